// What an open channel costs: tarvenix-can-dump on the in-process simulated
// adapter, measured from outside through /proc.
//
// 1. Idle: no traffic. Thread wake-ups a second (voluntary and involuntary
//    context switches of all its threads) and CPU as a share of one core.
// 2. Load: 10,000 frames/s, every trace line printed to a file, against `cat`
//    reading a second simulator's identical stream into a file in the same run.
//
//   bench_idle [--seconds S] [--dump PATH]     (PATH: another build to compare)
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "SeeedSimulator.h"
#include "core/CanSettings.h"
#include "seeed/SeeedPacket.h"

namespace {

struct TSample {
    long Switches = 0;
    double CpuSeconds = 0;
};

// Context switches of every thread, and user plus system time, of `pid`.
TSample Sample(pid_t pid)
{
    TSample s;
    const std::string base = "/proc/" + std::to_string(pid);
    if (DIR* dir = opendir((base + "/task").c_str())) {
        while (const dirent* e = readdir(dir)) {
            if (e->d_name[0] == '.')
                continue;
            std::ifstream in(base + "/task/" + e->d_name + "/status");
            std::string line;
            while (std::getline(in, line))
                if (line.rfind("voluntary_ctxt_switches:", 0) == 0 || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
                    s.Switches += std::strtol(line.c_str() + line.find(':') + 1, nullptr, 10);
        }
        closedir(dir);
    }
    std::ifstream stat(base + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; fields >> field; ++i) {
        if (i == 14)
            utime = std::atol(field.c_str());
        if (i == 15) {
            stime = std::atol(field.c_str());
            break;
        }
    }
    s.CpuSeconds = static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
    return s;
}

// Runs `argv` with standard output into `outFile` (and, when given, standard
// input from the terminal `inTty`, put into raw mode first and the adapter
// started in normal mode, as the monitor does).
pid_t Spawn(const std::vector<std::string>& args, const std::string& outFile, const std::string& inTty = "")
{
    TCanSettings settings;
    settings.Rate = 250000;
    const TSeeedPacketSetAndStart start(settings, kSeeedModeNormal);
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    const int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    if (!inTty.empty()) {
        const int in = open(inTty.c_str(), O_RDWR | O_NOCTTY);
        termios tio{};
        tcgetattr(in, &tio);
        cfmakeraw(&tio);
        tcsetattr(in, TCSANOW, &tio);
        if (write(in, start.Wire(), static_cast<size_t>(start.Size())) != start.Size())
            _exit(126);
        dup2(in, 0);
    }
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}

void End(pid_t pid)
{
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

struct TRate {
    double WakeupsPerSecond;
    double CpuShare; // of one core
};

TRate Measure(pid_t pid, double seconds)
{
    const TSample a = Sample(pid);
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const TSample b = Sample(pid);
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    return {static_cast<double>(b.Switches - a.Switches) / elapsed, (b.CpuSeconds - a.CpuSeconds) / elapsed};
}

} // namespace

int main(int argc, char** argv)
{
    double seconds = 10;
    std::string dump = TCM_CAN_DUMP_EXE;
    for (int i = 1; i + 1 < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--seconds")
            seconds = std::atof(argv[i + 1]);
        else if (a == "--dump")
            dump = argv[i + 1];
    }
    const std::string out = "/tmp/tcm-bench-idle-" + std::to_string(getpid());

    {
        TSeeedSimulator sim;
        if (!sim.Start())
            return 1;
        const pid_t child = Spawn({dump, "--port", sim.PortPath()}, out + ".idle");
        std::this_thread::sleep_for(std::chrono::milliseconds(1500)); // the 400 ms start, then settling
        const TRate idle = Measure(child, seconds);
        End(child);
        std::printf("idle open channel, tarvenix-can-dump, %.0f s: %.1f wake-ups/s, %.3f %% of a core\n", seconds,
                    idle.WakeupsPerSecond, idle.CpuShare * 100.0);
    }
    {
        TSeeedSimOptions traffic;
        traffic.FramesPerSecond = 10000;
        TSeeedSimulator forDump(traffic);
        TSeeedSimulator forCat(traffic);
        if (!forDump.Start() || !forCat.Start())
            return 1;
        const pid_t child = Spawn({dump, "--port", forDump.PortPath()}, out + ".dump");
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        const pid_t cat = Spawn({"/bin/cat"}, out + ".cat", forCat.PortPath());
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const TSample d0 = Sample(child), c0 = Sample(cat);
        const uint64_t f0 = forDump.Counters().FramesSent, g0 = forCat.Counters().FramesSent;
        const auto t0 = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        const TSample d1 = Sample(child), c1 = Sample(cat);
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        const double rateDump = static_cast<double>(forDump.Counters().FramesSent - f0) / elapsed;
        const double rateCat = static_cast<double>(forCat.Counters().FramesSent - g0) / elapsed;
        End(child);
        End(cat);
        std::ifstream lines(out + ".dump");
        long printed = 0;
        for (std::string line; std::getline(lines, line);)
            ++printed;
        std::printf("load: the monitor printed %ld lines in the whole run\n", printed);
        const double cpuDump = (d1.CpuSeconds - d0.CpuSeconds) / elapsed;
        const double cpuCat = (c1.CpuSeconds - c0.CpuSeconds) / elapsed;
        std::printf("load: monitor %.0f frames/s printed to a file: %.2f %% of a core, %.0f wake-ups/s\n", rateDump,
                    cpuDump * 100.0, static_cast<double>(d1.Switches - d0.Switches) / elapsed);
        std::printf("load: cat %.0f frames/s into a file: %.2f %% of a core, %.0f wake-ups/s\n", rateCat,
                    cpuCat * 100.0, static_cast<double>(c1.Switches - c0.Switches) / elapsed);
        std::printf("load: monitor / cat CPU: %.2f (clock tick %ld/s)\n", cpuCat > 0 ? cpuDump / cpuCat : 0.0,
                    sysconf(_SC_CLK_TCK));
    }
    for (const char* suffix : {".idle", ".dump", ".cat"})
        unlink((out + suffix).c_str());
    return 0;
}
