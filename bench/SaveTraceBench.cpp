// "Save trace as" of a 10-million-entry trace: the same function the trace
// view's menu runs on its worker thread, into a real file in each format. The
// reference is copying the candump file with cp in the same run, which shows
// what the disk and page cache of this machine give at the time.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "app/TraceFiles.h"
#include "views/TarvenixTrace.h"

namespace {

double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

long long FileSize(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

} // namespace

int main(int argc, char** argv)
{
    const int entries = argc > 1 ? std::atoi(argv[1]) : 10000000;
    char folder[] = "/tmp/tcm-save-bench-XXXXXX";
    if (!mkdtemp(folder)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dir = folder;

    // A trace as a busy bus leaves it: 16 identifiers, standard and extended,
    // eight data bytes, a tenth of the frames sent by us, 1 ms apart.
    auto trace = std::make_unique<TTarvenixTraceList>();
    TCanFrame frame;
    frame.Length = 8;
    for (int i = 0; i < entries; ++i) {
        frame.Id = (i & 1) ? 0x18DA0000u + static_cast<uint32_t>(i & 15) : 0x100u + static_cast<uint32_t>(i & 15);
        frame.Standard = (i & 1) == 0;
        frame.Time = static_cast<uint32_t>(i);
        for (int b = 0; b < 8; ++b)
            frame.Data[b] = static_cast<uint8_t>(i >> (b * 3));
        trace->AddFrame(frame, i % 10 == 0);
    }
    std::printf("trace of %lld entries; files in %s\n", static_cast<long long>(trace->Count()), dir.c_str());

    bool allFast = true;
    const struct {
        const char* Name;
        TRecordFormat Format;
    } formats[] = {{"trace.log", TRecordFormat::Candump},
                   {"trace.blf", TRecordFormat::Blf},
                   {"trace.pcap", TRecordFormat::Pcap},
                   {"trace.asc", TRecordFormat::Asc},
                   {"trace.txt", TRecordFormat::Trace}};
    for (const auto& f : formats) {
        const std::string path = dir + "/" + f.Name;
        TFileJobControl control;
        std::string error;
        const auto start = std::chrono::steady_clock::now();
        const bool ok = ExportTrace(*trace, 0, trace->Count() - 1, f.Format, path, control, error);
        const double seconds = SecondsSince(start);
        if (!ok) {
            std::printf("%-11s FAILED: %s\n", f.Name, error.c_str());
            return 1;
        }
        const long long bytes = FileSize(path);
        std::printf("%-11s %6.2f s  %5.2f M entries/s  %7.1f MB  %6.1f MB/s\n", f.Name, seconds,
                    entries / seconds / 1e6, static_cast<double>(bytes) / 1e6,
                    static_cast<double>(bytes) / 1e6 / seconds);
        allFast = allFast && seconds < 10.0;
        if (f.Format == TRecordFormat::Candump) {
            const auto copyStart = std::chrono::steady_clock::now();
            const std::string copy = "cp '" + path + "' '" + dir + "/copy.log'";
            if (std::system(copy.c_str()) == 0)
                std::printf("%-11s %6.2f s  reference: cp of the candump file\n", "cp", SecondsSince(copyStart));
            unlink((dir + "/copy.log").c_str());
        }
        unlink(path.c_str());
    }
    rmdir(dir.c_str());
    std::printf("limit 10 s for %d entries in every format: %s\n", entries, allFast ? "met" : "NOT met");
    return 0;
}
