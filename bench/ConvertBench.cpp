// tarvenix-can-dump --input converting a BLF recording into a candump log: frames per second
// by the converter's CPU time and by the clock, against `cat` of the log it wrote and against
// python-can's can.logconvert on the same smaller file, all in the same run (the machine may
// be shared). Options: --frames N (default 3,000,000), --python-frames N (default 200,000).
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <spawn.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ProcStats.h"
#include "record/RecordWriter.h"
#include "support/TempDir.h"

extern char** environ;

namespace {

struct TRun {
    double WallSeconds = 0;
    double CpuSeconds = 0; // user + system of the child
    bool Ok = false;
};

// Runs `args` with standard output into `output` (or /dev/null), waits and measures it.
TRun Run(const std::vector<std::string>& args, const std::string& output = "/dev/null")
{
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0); // the summary line
    const auto t0 = std::chrono::steady_clock::now();
    pid_t pid = 0;
    TRun run;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        std::perror(argv[0]);
        return run;
    }
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    run.WallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    run.CpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.Ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!run.Ok)
        std::fprintf(stderr, "%s failed\n", argv[0]);
    return run;
}

// Mixed traffic as a bus at the link limit carries it: a frame every 100 us, standard and
// extended, lengths 0-8, some remote, some sent.
void WriteBlf(const std::string& path, long count)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    auto writer = CreateRecordWriter(TRecordFormat::Blf, fd, path);
    TRecordFrame r;
    int64_t us = 1700000000000000;
    for (long i = 0; i < count; ++i) {
        r.Frame.Standard = i % 3 != 0;
        r.Frame.Id =
            r.Frame.Standard ? static_cast<uint32_t>(i * 7 % 0x800) : static_cast<uint32_t>(i * 104729 % 0x20000000);
        r.Frame.Length = static_cast<int32_t>(i % 9);
        r.Frame.Request = i % 17 == 0;
        for (int b = 0; b < 8; ++b)
            r.Frame.Data[b] = static_cast<uint8_t>(i * 31 + b);
        r.Outgoing = i % 5 == 0;
        us += 100;
        r.WallUs = us;
        writer->Write(r);
    }
    writer->Finish();
    ::close(fd);
}

long FileSize(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

// The median of three runs, by CPU time.
TRun Median(const std::vector<std::string>& args, const std::string& output = "/dev/null")
{
    std::vector<TRun> runs;
    for (int i = 0; i < 3; ++i)
        runs.push_back(Run(args, output));
    std::sort(runs.begin(), runs.end(), [](const TRun& a, const TRun& b) { return a.CpuSeconds < b.CpuSeconds; });
    return runs[1];
}

} // namespace

int main(int argc, char** argv)
{
    long frames = 3000000;
    long pythonFrames = 200000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--frames") == 0)
            frames = std::atol(argv[i + 1]);
        else if (std::strcmp(argv[i], "--python-frames") == 0)
            pythonFrames = std::atol(argv[i + 1]);
    }
    TempDir dir;
    const std::string big = dir.File("big.blf");
    const std::string small = dir.File("small.blf");
    WriteBlf(big, frames);
    WriteBlf(small, pythonFrames);
    std::printf("tarvenix-can-dump --input FILE.blf --format candump --output FILE.log\n"
                "mixed traffic (standard/extended, lengths 0-8, remote, in and out), zlib BLF containers;\n"
                "%ld online CPUs, load average %s; median of three runs by CPU time (user + system)\n\n",
                sysconf(_SC_NPROCESSORS_ONLN), LoadAverage().c_str());

    const std::string log = dir.File("big.log");
    const TRun ours = Median({TCM_CAN_DUMP_EXE, "--input", big, "--format", "candump", "--output", log});
    const TRun cat = Median({"/bin/cat", log});
    std::printf("%ld frames, BLF %.1f MB -> candump log %.1f MB\n", frames, FileSize(big) / 1e6, FileSize(log) / 1e6);
    std::printf("  tarvenix-can-dump   %6.2f M frames/s by CPU   %6.2f M frames/s by the clock  (%.2f s CPU)\n",
                frames / ours.CpuSeconds / 1e6, frames / ours.WallSeconds / 1e6, ours.CpuSeconds);
    std::printf("  cat of the log      %6.2f M frames/s by CPU   %6.2f M frames/s by the clock  (%.0f MB/s)\n",
                frames / cat.CpuSeconds / 1e6, frames / cat.WallSeconds / 1e6, FileSize(log) / cat.WallSeconds / 1e6);

    const std::string smallLog = dir.File("small.log");
    const TRun oursSmall = Median({TCM_CAN_DUMP_EXE, "--input", small, "--format", "candump", "--output", smallLog});
    const TRun python = Run({"/usr/bin/python3", "-m", "can.logconvert", small, dir.File("python.log")});
    std::printf("%ld frames, the same BLF for both:\n", pythonFrames);
    std::printf("  tarvenix-can-dump   %6.2f M frames/s by CPU   %6.2f M frames/s by the clock\n",
                pythonFrames / oursSmall.CpuSeconds / 1e6, pythonFrames / oursSmall.WallSeconds / 1e6);
    std::printf("  can.logconvert      %6.3f M frames/s by CPU   %6.3f M frames/s by the clock (one run)\n",
                pythonFrames / python.CpuSeconds / 1e6, pythonFrames / python.WallSeconds / 1e6);
    if (!ours.Ok) {
        std::printf("\nTHE CONVERSION FAILED: nothing was measured\n");
        return 1;
    }
    std::printf("\ntarget: at least 1 M frames/s BLF -> candump by CPU time: %s\n",
                frames / ours.CpuSeconds >= 1e6 ? "met" : "NOT MET");
    return 0;
}
