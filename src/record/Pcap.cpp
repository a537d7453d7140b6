// pcap with link type 227 (LINKTYPE_CAN_SOCKETCAN): a 24-byte file header, then per frame a 16-byte
// record header and the 16-byte SocketCAN frame (big-endian can_id with the EFF and RTR flags, the
// length, three reserved bytes, eight data bytes). Written in the machine's byte order with
// microsecond times, so it streams into a pipe.
#include <cstring>

#include "record/RecordIo.h"
#include "record/SocketCan.h"

namespace tcm::recording {
namespace {

constexpr uint32_t kMagicMicro = 0xA1B2C3D4;
constexpr uint32_t kMagicNano = 0xA1B23C4D;
constexpr uint32_t kEffFlag = 0x80000000;
constexpr uint32_t kRtrFlag = 0x40000000;
constexpr uint32_t kErrFlag = 0x20000000;
constexpr uint32_t kCanFrameBytes = 16;
constexpr uint32_t kMaxRecord = kMaxSocketCanRecord;
constexpr uint32_t kPcapNgMagic = 0x0A0D0D0A;

void Put32(std::string& out, uint32_t v)
{
    out.append(reinterpret_cast<const char*>(&v), 4);
}
void Put16(std::string& out, uint16_t v)
{
    out.append(reinterpret_cast<const char*>(&v), 2);
}

class TPcapWriter final : public TRecordWriter {
public:
    TPcapWriter(int fd, const std::string& name) : Out(fd, name)
    {
        std::string& b = Out.Bytes();
        Put32(b, kMagicMicro);
        Put16(b, 2);
        Put16(b, 4);
        Put32(b, 0);     // time zone
        Put32(b, 0);     // accuracy
        Put32(b, 65535); // snapshot length
        Put32(b, kLinkSocketCan);
    }
    void Write(const TRecordFrame& r) override
    {
        const int64_t us = r.WallUs < 0 ? 0 : r.WallUs;
        const TCanFrame& f = r.Frame;
        uint32_t head[4] = {static_cast<uint32_t>(us / 1000000), static_cast<uint32_t>(us % 1000000), kCanFrameBytes,
                            kCanFrameBytes};
        unsigned char frame[kCanFrameBytes] = {};
        uint32_t id = f.Standard ? (f.Id & 0x7FF) : ((f.Id & 0x1FFFFFFF) | kEffFlag);
        if (f.Request)
            id |= kRtrFlag;
        frame[0] = static_cast<unsigned char>(id >> 24);
        frame[1] = static_cast<unsigned char>(id >> 16);
        frame[2] = static_cast<unsigned char>(id >> 8);
        frame[3] = static_cast<unsigned char>(id);
        const int length = CanDataBytes(f.Length);
        frame[4] = static_cast<unsigned char>(length);
        if (!f.Request)
            std::memcpy(frame + 8, f.Data, static_cast<size_t>(length));
        std::string& b = Out.Bytes();
        b.append(reinterpret_cast<const char*>(head), sizeof head);
        b.append(reinterpret_cast<const char*>(frame), sizeof frame);
        Out.DrainIfFull();
    }
    void Flush() override { Out.Drain(); }
    void Finish() override { Out.Drain(); }

private:
    TFdOutput Out;
};

uint32_t Swap32(uint32_t v)
{
    return __builtin_bswap32(v);
}

} // namespace

bool DecodeSocketCan(const unsigned char* p, uint32_t size, TRecordFrame& out, std::string& what,
                     TLeftOutCounts& dropped)
{
    if (size < 8) {
        what = "SocketCAN frame of " + std::to_string(size) + " bytes";
        return false;
    }
    const uint32_t id = (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
    const unsigned len = p[4];
    if (id & kErrFlag) {
        ++dropped.Error;
        return false;
    }
    if (len > 8 || size > kCanFrameBytes) {
        ++dropped.Fd;
        return false;
    }
    TCanFrame& f = out.Frame;
    f = TCanFrame{};
    f.Standard = (id & kEffFlag) == 0;
    f.Id = id & (f.Standard ? 0x7FFu : 0x1FFFFFFFu);
    f.Request = (id & kRtrFlag) != 0;
    f.Length = static_cast<int32_t>(len);
    if (!f.Request) {
        if (size < 8 + len) {
            what = "frame data cut short by the capture's snapshot length";
            return false;
        }
        std::memcpy(f.Data, p + 8, len);
    }
    out.Outgoing = false;
    return true;
}

namespace {

class TPcapReader final : public TRecordReaderBase {
public:
    TPcapReader(int fd, bool owned, const std::string& name) : TRecordReaderBase(fd, owned, name) {}

protected:
    bool NextFrame(TRecordFrame& out) override
    {
        if (!Started && !Start())
            return false;
        if (NextGeneration)
            return NextGeneration->Next(out) || Finish();
        for (;;) {
            const uint64_t at = In.Offset();
            uint32_t head[4];
            const size_t got = In.Read(head, sizeof head);
            if (got == 0)
                return Finish();
            if (got < sizeof head) {
                ReportOffset(at, "record header cut short");
                return Finish();
            }
            if (Swapped)
                for (uint32_t& v : head)
                    v = Swap32(v);
            const uint32_t incl = head[2];
            if (incl > kMaxRecord) {
                // Without a believable length the next record cannot be found.
                ReportOffset(at, "record length " + std::to_string(incl) +
                                     " is not a SocketCAN frame; rest of file skipped");
                return false;
            }
            unsigned char frame[kMaxRecord];
            if (In.Read(frame, incl) < incl) {
                ReportOffset(at, "record cut short");
                return Finish();
            }
            std::string what;
            if (!DecodeSocketCan(frame, incl, out, what, Dropped)) {
                if (!what.empty())
                    ReportOffset(at, what);
                continue;
            }
            out.Channel = 1;
            const uint32_t fraction = head[1];
            if (fraction >= (Nano ? 1000000000u : 1000000u)) {
                ReportOffset(at, "time fraction out of range");
                continue;
            }
            out.WallUs = int64_t(head[0]) * 1000000 + (Nano ? fraction / 1000 : fraction);
            out.Frame.Time = TickFromWallUs(out.WallUs);
            return true;
        }
    }

private:
    bool Start()
    {
        Started = true;
        uint32_t head[6];
        if (In.Read(head, 4) == 4 && head[0] == kPcapNgMagic) {
            NextGeneration = std::make_unique<TPcapNgParser>(
                In,
                [](void* self, uint64_t at, const std::string& what) {
                    static_cast<TPcapReader*>(self)->ReportOffset(at, what);
                },
                this, Dropped);
            return true;
        }
        if (In.Offset() < 4 || In.Read(head + 1, sizeof head - 4) < sizeof head - 4) {
            if (!ReportReadError())
                ReportOffset(0, "no pcap file header");
            return false;
        }
        uint32_t magic = head[0];
        if (magic == Swap32(kMagicMicro) || magic == Swap32(kMagicNano)) {
            Swapped = true;
            magic = Swap32(magic);
            head[5] = Swap32(head[5]);
        }
        if (magic != kMagicMicro && magic != kMagicNano) {
            ReportOffset(0, "not a pcap file");
            return false;
        }
        Nano = magic == kMagicNano;
        if ((head[5] & 0x0FFFFFFF) != kLinkSocketCan) {
            ReportOffset(20, "link type " + std::to_string(head[5] & 0x0FFFFFFF) + " is not SocketCAN (227)");
            return false;
        }
        return true;
    }
    bool Finish()
    {
        ReportReadError();
        return false;
    }

    std::unique_ptr<TPcapNgParser> NextGeneration; // pcapng, as dumpcap writes by default
    bool Started = false;
    bool Swapped = false;
    bool Nano = false;
};

std::unique_ptr<TRecordWriter> CreateWriter(int fd, const std::string& name, const TRecordWriterOptions&)
{
    return std::make_unique<TPcapWriter>(fd, name);
}

std::unique_ptr<TRecordReader> CreateReader(int fd, bool owned, const std::string& name)
{
    return std::make_unique<TPcapReader>(fd, owned, name);
}

bool Sniff(std::string_view head)
{
    if (head.size() < 4)
        return false;
    uint32_t magic = 0;
    std::memcpy(&magic, head.data(), 4);
    for (uint32_t known : {kMagicMicro, kMagicNano, kPcapNgMagic})
        if (magic == known || magic == Swap32(known))
            return true;
    return false;
}

} // namespace

// Written as pcap; pcapng (Wireshark's default) is read as well.
extern const TRecordFormatEntry kFormatPcap = {TRecordFormat::Pcap, "pcap",      "pcap", ".pcap .pcapng", Sniff,
                                               CreateReader,        CreateWriter};

} // namespace tcm::recording
