// libFuzzer target: any bytes as a recording of one format (named by TCM_FUZZ_FORMAT), read to the end
// through a memory-backed descriptor; every frame read must be a valid classic CAN frame. As a
// conversion does (can-dump --input), every frame read is also written in a format the input's size
// picks and counted by the statistics, so no time or field a file can hold overflows a writer.
// Built by scripts/fuzz-readers.sh (clang, TCM_FUZZ=ON). With TCM_FUZZ_SEED_DIR set, it first
// writes seed recordings made by our own writer there.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "record/RecordReader.h"
#include "record/RecordWriter.h"
#include "stats/ChannelStats.h"

namespace {

// The format under test, by name from TCM_FUZZ_FORMAT.
TRecordFormat g_format = TRecordFormat::Candump;

std::unique_ptr<TRecordWriter> Writer(int fd, bool stored)
{
    TRecordWriterOptions options;
    options.BlfCompressed = !stored;
    return CreateRecordWriter(g_format, fd, "seed", options);
}

void WriteSeed(const std::string& path, bool stored, int count)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return;
    auto writer = Writer(fd, stored);
    for (int i = 0; i < count; ++i) {
        TRecordFrame r;
        r.Frame.Standard = i % 3 != 0;
        r.Frame.Id = r.Frame.Standard ? static_cast<uint32_t>(i * 91 % 0x800) : static_cast<uint32_t>(i * 7919);
        r.Frame.Length = i % 9;
        r.Frame.Request = i % 7 == 0;
        for (int b = 0; b < 8; ++b)
            r.Frame.Data[b] = static_cast<uint8_t>(i + b);
        r.Outgoing = i % 4 == 0;
        r.WallUs = 1700000000000000 + i * 1237;
        writer->Write(r);
    }
    writer->Finish();
    ::close(fd);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // TCM_FUZZ_LIST: the names of the formats that are read, one a line, for the fuzz script.
    if (std::getenv("TCM_FUZZ_LIST")) {
        for (const TRecordFormatEntry* e : RecordFormats())
            if (e->Reader)
                std::printf("%s\n", e->Name);
        std::exit(0);
    }
    const char* name = std::getenv("TCM_FUZZ_FORMAT");
    const auto format = RecordFormatFromName(name ? name : "");
    if (!format || !RecordFormatEntry(*format).Reader) {
        std::fprintf(stderr, "TCM_FUZZ_FORMAT must name a format that is read\n");
        std::exit(2);
    }
    g_format = *format;
    if (const char* dir = std::getenv("TCM_FUZZ_SEED_DIR")) {
        WriteSeed(std::string(dir) + "/seed-small", false, 12);
        WriteSeed(std::string(dir) + "/seed-stored", true, 40);
        WriteSeed(std::string(dir) + "/seed-large", false, 3000);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const int fd = ::memfd_create("fuzz", MFD_CLOEXEC);
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size) ||
        ::lseek(fd, 0, SEEK_SET) != 0)
        __builtin_trap();
    static const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    auto reader = CreateRecordReader(g_format, fd, "fuzz");
    reader->Channel = 1 + static_cast<int>(size % 2);
    const auto formats = RecordFormats();
    auto writer = CreateRecordWriter(formats[(size / 2) % formats.size()]->Format, null, "converted");
    TStatsAccumulator stats;
    int64_t lastUs = 0;
    size_t errors = 0;
    reader->OnError = [&](const std::string& message) {
        if (message.empty() || message.size() > 400)
            __builtin_trap();
        ++errors;
    };
    TRecordFrame r;
    size_t frames = 0;
    while (reader->Next(r)) {
        const TCanFrame& f = r.Frame;
        if (f.Length < 0 || f.Length > 15 || f.Id > (f.Standard ? 0x7FFu : 0x1FFFFFFFu))
            __builtin_trap();
        if (++frames > size) // every frame takes some bytes of the input
            __builtin_trap();
        writer->Write(r);
        if (frames == 1)
            stats.Start(500000, r.WallUs);
        stats.Add(f, r.Outgoing, r.WallUs);
        lastUs = std::max(lastUs, r.WallUs);
    }
    writer->Finish();
    stats.Stop(lastUs);
    const TChannelCounters counted = stats.Snapshot(lastUs).Channel;
    if (counted.In.Frames + counted.Out.Frames != frames || reader->LeftOut().size() > 10000)
        __builtin_trap();
    return 0;
}
