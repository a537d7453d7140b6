#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <stdexcept>

#include "record/BlfLayout.h"
#include "record/RecordIo.h"

namespace tcm::recording {
namespace blf {

void PutSystemTime(unsigned char* p, int64_t unixMs)
{
    std::memset(p, 0, 16);
    const time_t seconds = static_cast<time_t>(unixMs / 1000);
    std::tm t{};
    // SYSTEMTIME holds years up to 9999 (the readers' limit too): later times stay unset.
    if (unixMs < 0 || !localtime_r(&seconds, &t) || t.tm_year > 9999 - 1900)
        return;
    const uint16_t fields[8] = {static_cast<uint16_t>(t.tm_year + 1900), static_cast<uint16_t>(t.tm_mon + 1),
                                static_cast<uint16_t>(t.tm_wday),        static_cast<uint16_t>(t.tm_mday),
                                static_cast<uint16_t>(t.tm_hour),        static_cast<uint16_t>(t.tm_min),
                                static_cast<uint16_t>(t.tm_sec),         static_cast<uint16_t>(unixMs % 1000)};
    std::memcpy(p, fields, 16);
}

int64_t SystemTimeToUnixMs(const unsigned char* p)
{
    uint16_t f[8];
    std::memcpy(f, p, 16);
    if (f[0] < 1970 || f[0] > 9999 || f[1] < 1 || f[1] > 12 || f[3] < 1 || f[3] > 31 || f[4] > 23 || f[5] > 59 ||
        f[6] > 61 || f[7] > 999)
        return 0;
    std::tm t{};
    t.tm_year = f[0] - 1900;
    t.tm_mon = f[1] - 1;
    t.tm_mday = f[3];
    t.tm_hour = f[4];
    t.tm_min = f[5];
    t.tm_sec = f[6];
    t.tm_isdst = -1;
    const time_t seconds = std::mktime(&t);
    return seconds < 0 ? 0 : int64_t(seconds) * 1000 + f[7];
}

} // namespace blf

namespace {

using namespace blf;

// Objects are collected uncompressed up to this size, then written as one log container.
constexpr size_t kContainerData = 128 * 1024;
constexpr uint32_t kCanObjectSize = kBaseHeaderSize + kHeaderV1Size + kCanMessageSize;

class TBlfWriter final : public TRecordWriter {
public:
    TBlfWriter(int fd, const std::string& name, bool compressed)
        : Out(fd, name), Compressed(compressed), HeaderAt(SeekableOffset(fd))
    {
        Objects.reserve(kContainerData + kCanObjectSize);
        if (Compressed) {
            Packed.resize(compressBound(kContainerData + kCanObjectSize));
            if (deflateInit(&Zip, Z_BEST_SPEED) != Z_OK)
                throw std::runtime_error("zlib could not be set up");
        }
    }
    ~TBlfWriter() override
    {
        if (Compressed)
            deflateEnd(&Zip);
    }

    void Write(const TRecordFrame& r) override
    {
        if (!Started) {
            Started = true;
            StartMs = (r.WallUs < 0 ? 0 : r.WallUs) / 1000;
        }
        LastUs = r.WallUs;
        // Frames before the start are stamped at it, and times too far on for 64-bit nanoseconds
        // (half a million years) at the last one it holds.
        const int64_t startUs = StartMs * 1000;
        const uint64_t sinceStartUs = r.WallUs <= startUs ? 0 : static_cast<uint64_t>(r.WallUs - startUs);
        const uint64_t sinceStartNs = std::min<uint64_t>(sinceStartUs, UINT64_MAX / 1000) * 1000;
        const TCanFrame& f = r.Frame;
        unsigned char o[kCanObjectSize] = {'L', 'O', 'B', 'J'};
        Put16(o + 4, kBaseHeaderSize + kHeaderV1Size);
        Put16(o + 6, 1);
        Put32(o + 8, kCanObjectSize);
        Put32(o + 12, kTypeCanMessage);
        Put32(o + 16, kTimeNanos);
        Put64(o + 24, sinceStartNs);
        unsigned char* m = o + 32;
        Put16(m, 1); // channel
        m[2] = static_cast<unsigned char>((r.Outgoing ? kFlagTx : 0) | (f.Request ? kFlagRemote : 0));
        const int length = CanDataBytes(f.Length);
        m[3] = static_cast<unsigned char>(length);
        Put32(m + 4, f.Standard ? (f.Id & 0x7FF) : ((f.Id & 0x1FFFFFFF) | kIdExtended));
        if (!f.Request)
            std::memcpy(m + 8, f.Data, static_cast<size_t>(length));
        Objects.append(reinterpret_cast<const char*>(o), sizeof o);
        ++ObjectCount;
        if (Objects.size() >= kContainerData)
            EmitContainer();
    }

    void Flush() override
    {
        EmitContainer();
        Out.Drain();
    }

    void Finish() override
    {
        WriteHeaderOnce();
        Flush();
        if (HeaderAt >= 0) {
            // The header's sizes and counts are known only now.
            std::string header;
            AppendHeader(header);
            Out.WriteAt(static_cast<uint64_t>(HeaderAt), header.data(), header.size());
        }
    }

private:
    void AppendHeader(std::string& target) const
    {
        unsigned char h[kFileHeaderSize] = {'L', 'O', 'G', 'G'};
        Put32(h + 4, kFileHeaderSize);
        h[12] = 2; // BLF API version 2.6.8.1, which Vector's and other readers accept
        h[13] = 6;
        h[14] = 8;
        h[15] = 1;
        Put64(h + kOffFileSize, FileSize);
        Put64(h + kOffUncompressedSize, UncompressedSize + kFileHeaderSize);
        Put32(h + kOffObjectCount, ObjectCount);
        PutSystemTime(h + kOffStartTime, StartMs);
        PutSystemTime(h + kOffStopTime, (LastUs < 0 ? 0 : LastUs) / 1000);
        target.append(reinterpret_cast<const char*>(h), sizeof h);
    }

    // The header goes out before the first container: its start time is the first frame's.
    void WriteHeaderOnce()
    {
        if (HeaderWritten)
            return;
        if (!Started) {
            Started = true;
            StartMs = int64_t(std::time(nullptr)) * 1000;
            LastUs = StartMs * 1000;
        }
        AppendHeader(Out.Bytes());
        HeaderWritten = true;
        FileSize += kFileHeaderSize;
    }

    void EmitContainer()
    {
        if (Objects.empty())
            return;
        WriteHeaderOnce();
        const char* payload = Objects.data();
        size_t payloadSize = Objects.size();
        if (Compressed) {
            deflateReset(&Zip);
            Zip.next_in = reinterpret_cast<Bytef*>(Objects.data());
            Zip.avail_in = static_cast<uInt>(Objects.size());
            Zip.next_out = reinterpret_cast<Bytef*>(Packed.data());
            Zip.avail_out = static_cast<uInt>(Packed.size());
            if (deflate(&Zip, Z_FINISH) != Z_STREAM_END)
                throw std::runtime_error("zlib could not compress a log container of " + Out.Name());
            payload = Packed.data();
            payloadSize = Packed.size() - Zip.avail_out;
        }
        const uint32_t objectSize = static_cast<uint32_t>(kBaseHeaderSize + kContainerHeaderSize + payloadSize);
        unsigned char h[kBaseHeaderSize + kContainerHeaderSize] = {'L', 'O', 'B', 'J'};
        Put16(h + 4, kBaseHeaderSize);
        Put16(h + 6, 1);
        Put32(h + 8, objectSize);
        Put32(h + 12, kTypeLogContainer);
        Put16(h + 16, Compressed ? kCompressionZlib : kCompressionNone);
        Put32(h + 24, static_cast<uint32_t>(Objects.size()));
        std::string& b = Out.Bytes();
        b.append(reinterpret_cast<const char*>(h), sizeof h);
        b.append(payload, payloadSize);
        b.append(objectSize % 4, '\0');
        FileSize += objectSize + objectSize % 4;
        UncompressedSize += kBaseHeaderSize + kContainerHeaderSize + Objects.size();
        Objects.clear();
        Out.Drain();
    }

    TFdOutput Out;
    bool Compressed;
    int64_t HeaderAt; // where the file header goes back to at the end; -1 when not seekable
    std::string Objects;
    std::string Packed;
    z_stream Zip{};
    bool Started = false;
    bool HeaderWritten = false;
    int64_t StartMs = 0;
    int64_t LastUs = 0;
    uint32_t ObjectCount = 0;
    uint64_t FileSize = 0;
    uint64_t UncompressedSize = 0;
};

} // namespace

std::unique_ptr<TRecordWriter> CreateBlfWriter(int fd, const std::string& name, const TRecordWriterOptions& options)
{
    return std::make_unique<TBlfWriter>(fd, name, options.BlfCompressed);
}

} // namespace tcm::recording
