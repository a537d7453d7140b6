// Replay timing of tarvenix-can-dump measured at the far side of the port: the
// in-process simulated adapter stamps every frame the monitor sends, and each
// gap is compared with the gap in the recording.
//
//   bench_replay_gaps [--frames N]      (default 300 frames, gaps 0.5 to 50 ms)
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "../tests/support/ChildProcess.h"
#include "../tests/support/TempDir.h"
#include "SeeedSimulator.h"
#include "platform/Mutex.h"
#include "core/CanText.h"

namespace {

using TClock = std::chrono::steady_clock;

// Median, 99th percentile and maximum of `errors`, and how many are within 2 ms.
std::string Summary(std::vector<double> errors)
{
    std::sort(errors.begin(), errors.end());
    if (errors.empty())
        return "no gaps";
    const auto within = std::count_if(errors.begin(), errors.end(), [](double e) { return e <= 2.0; });
    char text[160];
    std::snprintf(text, sizeof text, "median %.3f ms, 99th percentile %.3f ms, max %.3f ms; %ld of %zu within 2 ms",
                  errors[errors.size() / 2], errors[static_cast<size_t>(0.99 * static_cast<double>(errors.size() - 1))],
                  errors.back(), static_cast<long>(within), errors.size());
    return text;
}

} // namespace

int main(int argc, char** argv)
{
    int count = 300;
    if (argc == 3 && std::string(argv[1]) == "--frames")
        count = std::max(2, std::atoi(argv[2]));
    // A candump log with gaps cycling through these lengths, in microseconds.
    const int64_t kGaps[] = {500, 1000, 2000, 5000, 10000, 20000, 50000, 1500, 3000, 0};
    TempDir dir;
    const std::string path = dir.File("replay.log");
    std::string log;
    std::vector<int64_t> fileUs;
    int64_t t = 1700000000000000;
    for (int i = 0; i < count; ++i) {
        if (i > 0)
            t += kGaps[i % std::size(kGaps)];
        fileUs.push_back(t);
        char stamp[40];
        std::snprintf(stamp, sizeof stamp, "(%lld.%06lld) can0 ", static_cast<long long>(t / 1000000),
                      static_cast<long long>(t % 1000000));
        TCanFrame f;
        f.Id = static_cast<uint32_t>(0x100 + i % 0x600);
        f.Standard = true;
        f.Length = 4;
        f.Data[0] = static_cast<uint8_t>(i);
        f.Data[1] = static_cast<uint8_t>(i >> 8);
        log += stamp + FormatCompactFrame(f) + "\n";
    }
    WriteWholeFile(path, log);

    tcm::TMutex lock;
    std::vector<TClock::time_point> arrived;
    std::vector<TCanFrame> frames;
    TSeeedSimOptions options;
    options.KeepHistory = false;
    TSeeedSimulator sim(options);
    sim.SetOnFrame([&](const TCanFrame& frame) {
        const auto now = TClock::now();
        tcm::TMutexLock guard(lock);
        arrived.push_back(now);
        frames.push_back(frame);
    });
    if (!sim.Start()) {
        std::fprintf(stderr, "%s\n", sim.LastError().c_str());
        return 1;
    }
    const double seconds = static_cast<double>(fileUs.back() - fileUs.front()) / 1e6 + 1.5;
    TChild dump({TCM_CAN_DUMP_EXE, "--port", sim.PortPath(), "--replay", path, "--duration", std::to_string(seconds)});
    const int status = dump.WaitExit(static_cast<int>(seconds * 1000) + 10000);

    tcm::TMutexLock guard(lock);
    // The first frame the simulator got is the monitor's loopback probe.
    const size_t got = frames.empty() ? 0 : frames.size() - 1;
    int inOrder = 0;
    for (size_t i = 1; i < frames.size() && i <= static_cast<size_t>(count); ++i)
        inOrder += (frames[i].Data[0] | frames[i].Data[1] << 8) == static_cast<int>(i - 1) ? 1 : 0;
    std::vector<double> errors;
    for (size_t i = 2; i < frames.size() && i <= static_cast<size_t>(count); ++i) {
        const double measured = std::chrono::duration<double, std::micro>(arrived[i] - arrived[i - 1]).count();
        const double recorded = static_cast<double>(fileUs[i - 1] - fileUs[i - 2]);
        errors.push_back(std::fabs(measured - recorded) / 1000.0);
    }
    // Reference from the same run: this process sleeping the same gaps, which
    // shows how late the machine itself wakes a thread right now.
    std::vector<double> reference;
    auto due = TClock::now();
    for (size_t i = 1; i < fileUs.size(); ++i) {
        due += std::chrono::microseconds(fileUs[i] - fileUs[i - 1]);
        std::this_thread::sleep_until(due);
        reference.push_back(std::chrono::duration<double, std::milli>(TClock::now() - due).count());
    }
    std::printf("tarvenix-can-dump --replay of %d frames (gaps 0 to 50 ms), measured at the simulated adapter\n",
                count);
    std::printf("  exit %d; frames arrived %zu, in file order %d; %s", status, got, inOrder, dump.ErrText.c_str());
    std::printf("  gap error: %s\n", Summary(errors).c_str());
    std::printf("  reference, this process sleeping the same gaps, lateness: %s\n", Summary(reference).c_str());
    return status == 0 && got == static_cast<size_t>(count) && inOrder == count ? 0 : 1;
}
