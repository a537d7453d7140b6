// Frame times of recordings made at the link limit: the simulated adapter sends 10,000
// frames a second (the 2 Mbaud link's limit) to one tarvenix-can-dump per recording format
// for --seconds S (default 60). Each recording is read back and shows the median gap between
// consecutive timestamps (the link's 100 us), the smallest gap (never negative), and the span
// of its times against the wall clock: a thread samples the simulator's count of frames
// written every millisecond with CLOCK_REALTIME, which tells when the first and the last
// recorded frame went into the terminal.
//
//   bench_frame_times [--seconds S] [--serial] [--format NAME ...]
//   (--serial: one format after another; --format: only those, repeatable)
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <list>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "../tests/support/ChildProcess.h"
#include "../tests/support/TempDir.h"
#include "SeeedSimulator.h"
#include "TrafficGenerator.h"
#include "record/RecordReader.h"

namespace {

constexpr double kRate = 10000;
const char* const kFormats[] = {"candump", "asc", "blf", "pcap", "trc"};

int64_t RealtimeUs()
{
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return int64_t(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

struct TSample {
    int64_t Us;
    uint64_t Sent;
};

struct TJob {
    std::string Format;
    std::string Path;
    std::unique_ptr<TSeeedSimulator> Sim;
    std::unique_ptr<TChild> Dump;
    std::thread Sampler;
    std::atomic<bool> Done{false};
    std::vector<TSample> Samples; // the simulator's frames written, with the wall clock
};

// When the simulator had written `count` frames: the first sample that shows them.
int64_t WrittenAt(const std::vector<TSample>& samples, uint64_t count)
{
    const auto at = std::find_if(samples.begin(), samples.end(), [count](const TSample& s) { return s.Sent >= count; });
    return at == samples.end() ? -1 : at->Us;
}

void Start(TJob& job, double seconds)
{
    TSeeedSimOptions options;
    options.FramesPerSecond = kRate;
    job.Sim = std::make_unique<TSeeedSimulator>(options);
    if (!job.Sim->Start()) {
        std::fprintf(stderr, "simulator: %s\n", job.Sim->LastError().c_str());
        std::exit(2);
    }
    job.Sampler = std::thread([&job] {
        while (!job.Done.load()) {
            job.Samples.push_back({RealtimeUs(), job.Sim->Counters().FramesSent});
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    job.Dump = std::make_unique<TChild>(std::vector<std::string>{TCM_CAN_DUMP_EXE, "--port", job.Sim->PortPath(),
                                                                 "--format", job.Format, "--output", job.Path,
                                                                 "--duration", std::to_string(seconds)});
}

// Reads the recording back and prints its figures; false when one is off its mark.
bool Report(TJob& job, double seconds)
{
    if (job.Dump->WaitExit(static_cast<int>(seconds * 1000) + 30000) != 0) {
        std::printf("%-8s tarvenix-can-dump failed: %s\n", job.Format.c_str(), job.Dump->ErrText.c_str());
        return false;
    }
    job.Done.store(true);
    job.Sampler.join();
    job.Sim.reset();
    std::string error;
    auto reader = OpenRecordReader(job.Path, error);
    if (!reader) {
        std::printf("%-8s %s\n", job.Format.c_str(), error.c_str());
        return false;
    }
    std::vector<int64_t> gaps;
    TRecordFrame r;
    int64_t firstUs = 0;
    int64_t lastUs = 0;
    uint32_t firstSeq = 0;
    uint32_t lastSeq = 0;
    uint64_t frames = 0;
    while (reader->Next(r)) {
        uint32_t seq = 0;
        if (!TTrafficGenerator::SequenceOf(r.Frame, seq))
            continue; // the opening's own frames (the loopback probe)
        if (frames++ == 0) {
            firstUs = r.WallUs;
            firstSeq = seq;
        } else {
            gaps.push_back(r.WallUs - lastUs);
        }
        lastUs = r.WallUs;
        lastSeq = seq;
    }
    if (gaps.size() < 2) {
        std::printf("%-8s too few frames (%llu)\n", job.Format.c_str(), static_cast<unsigned long long>(frames));
        return false;
    }
    const int64_t smallest = *std::min_element(gaps.begin(), gaps.end());
    const int64_t largest = *std::max_element(gaps.begin(), gaps.end());
    std::nth_element(gaps.begin(), gaps.begin() + static_cast<long>(gaps.size() / 2), gaps.end());
    const int64_t median = gaps[gaps.size() / 2];
    const double span = static_cast<double>(lastUs - firstUs) / 1e6;
    // The recording holds the simulator's written frames from its first on, in order.
    const int64_t firstWritten = WrittenAt(job.Samples, 1);
    const int64_t lastWritten = WrittenAt(job.Samples, frames);
    const double wall = static_cast<double>(lastWritten - firstWritten) / 1e6;
    const double offMs = (span - wall) * 1000;
    const uint64_t lost = (lastSeq - firstSeq + 1) - frames;
    // A gap below 0 is a recording out of time order, and without the simulator's times nothing
    // can be compared: those make the run invalid. The marks themselves are measured figures.
    const bool valid = smallest >= 0 && firstWritten > 0 && lastWritten > 0;
    const bool ok = valid && median >= 80 && median <= 120 && offMs >= -50 && offMs <= 50;
    std::printf("%-8s %7llu frames (%llu dropped by the simulator)  gap median %3lld us, min %3lld us, max %6lld us  "
                "span %10.6f s, wall clock %10.6f s, off %+7.3f ms  %s\n",
                job.Format.c_str(), static_cast<unsigned long long>(frames), static_cast<unsigned long long>(lost),
                static_cast<long long>(median), static_cast<long long>(smallest), static_cast<long long>(largest), span,
                wall, offMs,
                ok      ? "ok"
                : valid ? "OFF"
                        : "INVALID");
    return valid;
}

} // namespace

int main(int argc, char** argv)
{
    double seconds = 60;
    bool serial = false;
    std::vector<std::string> chosen;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc)
            seconds = std::max(1.0, std::atof(argv[++i]));
        else if (std::strcmp(argv[i], "--serial") == 0)
            serial = true;
        else if (std::strcmp(argv[i], "--format") == 0 && i + 1 < argc)
            chosen.push_back(argv[++i]);
    }
    TempDir dir;
    std::printf("simulated adapter at %.0f frames/s (the link limit), %.0f s per recording, %s;\n"
                "marks: median gap 100 +/- 20 us, no gap below 0, span within 50 ms of the wall clock's\n",
                kRate, seconds, serial ? "one format after another" : "every format at once");
    std::list<TJob> jobs; // a job's sampler holds on to it: they never move
    for (const char* format : kFormats)
        if (chosen.empty() || std::find(chosen.begin(), chosen.end(), format) != chosen.end()) {
            jobs.emplace_back();
            jobs.back().Format = format;
            jobs.back().Path = dir.File(std::string("times.") + format);
        }
    bool ok = true; // every recording could be measured
    if (serial) {
        for (TJob& job : jobs) {
            Start(job, seconds);
            ok = Report(job, seconds) && ok;
        }
    } else {
        for (TJob& job : jobs)
            Start(job, seconds);
        for (TJob& job : jobs)
            ok = Report(job, seconds) && ok;
    }
    return ok ? 0 : 1;
}
