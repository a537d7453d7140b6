// Frames per second of each recording writer on one core, into /dev/null and into a
// memory-backed file (memfd), with a plain write() loop of the same buffer size as reference.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <cstdio>
#include <string>
#include <vector>

#include "record/RecordWriter.h"

namespace {

using TClock = std::chrono::steady_clock;

std::vector<TRecordFrame> Frames()
{
    // Mixed traffic: standard and extended, all lengths, some remote, in and out.
    std::vector<TRecordFrame> frames(4096);
    for (size_t i = 0; i < frames.size(); ++i) {
        TRecordFrame& r = frames[i];
        r.Frame.Standard = i % 3 != 0;
        r.Frame.Id = r.Frame.Standard ? static_cast<uint32_t>(i * 7 % 0x800) : static_cast<uint32_t>(i * 104729);
        r.Frame.Length = static_cast<int32_t>(i % 9);
        r.Frame.Request = i % 17 == 0;
        for (int b = 0; b < 8; ++b)
            r.Frame.Data[b] = static_cast<uint8_t>(i * 31 + b);
        r.Outgoing = i % 5 == 0;
    }
    return frames;
}

struct TResult {
    double FramesPerSecond;     // by the thread's CPU time: the machine may be shared
    double WallFramesPerSecond; // by the clock
    double MegabytesPerSecond;
};

double ThreadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

TResult Run(TRecordFormat format, int fd, int count, const std::vector<TRecordFrame>& frames, bool compressed = true)
{
    TRecordWriterOptions options;
    options.BlfCompressed = compressed;
    ::ftruncate(fd, 0);
    ::lseek(fd, 0, SEEK_SET);
    auto writer = CreateRecordWriter(format, fd, "bench", options);
    int64_t us = 1700000000000000;
    const auto t0 = TClock::now();
    const double cpu0 = ThreadCpuSeconds();
    for (int i = 0; i < count; ++i) {
        TRecordFrame r = frames[static_cast<size_t>(i) & 4095];
        us += 100 + (i & 63);
        r.WallUs = us;
        writer->Write(r);
    }
    writer->Finish();
    const double cpu = ThreadCpuSeconds() - cpu0;
    const double s = std::chrono::duration<double>(TClock::now() - t0).count();
    const off_t bytes = ::lseek(fd, 0, SEEK_CUR);
    return {count / cpu, count / s, bytes > 0 ? bytes / cpu / 1e6 : 0};
}

double ReferenceMegabytesPerSecond(int fd)
{
    std::string block(48 * 1024, 'x');
    const int rounds = 20000;
    ::ftruncate(fd, 0);
    ::lseek(fd, 0, SEEK_SET);
    const auto t0 = TClock::now();
    for (int i = 0; i < rounds; ++i)
        if (::write(fd, block.data(), block.size()) < 0)
            return 0;
    const double s = std::chrono::duration<double>(TClock::now() - t0).count();
    return block.size() * double(rounds) / s / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::atoi(argv[1]) : 5000000;
    const auto frames = Frames();
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    const int memory = ::memfd_create("record-bench", MFD_CLOEXEC);
    if (null < 0 || memory < 0) {
        std::perror("open");
        return 2;
    }
    std::printf("%d frames per run, one thread, mixed standard/extended, lengths 0-8;\n"
                "frames per second of the thread's CPU time (the machine may be shared), then by the clock\n",
                count);
    std::printf("reference: write() of 48 KB blocks: /dev/null %.0f MB/s, memfd %.0f MB/s\n",
                ReferenceMegabytesPerSecond(null), ReferenceMegabytesPerSecond(memory));
    struct TCase {
        const char* Name;
        TRecordFormat Format;
        bool Compressed;
    } cases[] = {{"candump", TRecordFormat::Candump, true}, {"blf zlib", TRecordFormat::Blf, true},
                 {"blf stored", TRecordFormat::Blf, false}, {"asc", TRecordFormat::Asc, true},
                 {"pcap", TRecordFormat::Pcap, true},       {"trace text", TRecordFormat::Trace, true}};
    bool ok = true;
    for (const auto& c : cases) {
        const TResult toNull = Run(c.Format, null, count, frames, c.Compressed);
        const TResult toMemory = Run(c.Format, memory, count, frames, c.Compressed);
        std::printf(
            "%-11s /dev/null %6.2f M frames/s   memfd %6.2f M frames/s (%4.0f MB/s)   by the clock: %5.2f / %5.2f\n",
            c.Name, toNull.FramesPerSecond / 1e6, toMemory.FramesPerSecond / 1e6, toMemory.MegabytesPerSecond,
            toNull.WallFramesPerSecond / 1e6, toMemory.WallFramesPerSecond / 1e6);
        if ((c.Format == TRecordFormat::Candump || c.Format == TRecordFormat::Blf) && toMemory.FramesPerSecond < 2e6)
            ok = false;
    }
    std::printf("candump and BLF at least 2 M frames/s into memory: %s\n", ok ? "met" : "NOT met");
    return 0;
}
