// Reads BLF as a stream: log containers are inflated through a fixed window, objects are parsed
// as they pass, objects split between containers are joined, and anything not a classic CAN
// message is passed over without being held in memory.
#include <zlib.h>

#include <algorithm>

#include "record/BlfLayout.h"
#include "record/RecordIo.h"

namespace tcm::recording {
namespace {

using namespace blf;

// Larger objects are taken for damage: the reader looks for the next object signature instead.
constexpr uint32_t kMaxObjectSize = 64u * 1024 * 1024;
// Writers fill a log container with about 128 KB; one that holds far more is taken for a
// decompression bomb and skipped without being inflated.
constexpr uint32_t kMaxContainerContent = 16u * 1024 * 1024;
constexpr size_t kWindow = 64 * 1024;
// Padding between objects is object size % 4; a longer run before a signature is reported.
constexpr uint64_t kSilentGap = 7;

enum class TParse { Frame, Passed, Bad, Cut };

class TBlfReader final : public TRecordReaderBase {
public:
    TBlfReader(int fd, bool owned, const std::string& name)
        : TRecordReaderBase(fd, owned, name), ZipIn(new unsigned char[kWindow]), Window(new unsigned char[kWindow])
    {
        ZipReady = inflateInit(&Zip) == Z_OK;
    }
    ~TBlfReader() override
    {
        if (ZipReady)
            inflateEnd(&Zip);
    }

protected:
    bool NextFrame(TRecordFrame& out) override
    {
        if (!Started && !Start())
            return false;
        while (!Ended) {
            if (!InContainer) {
                bool gotFrame = false;
                if (!OpenContainer(&out, gotFrame))
                    break;
                if (gotFrame)
                    return true;
                continue;
            }
            const uint64_t objectAt = InnerPos;
            const uint64_t containerAt = ContainerAt;
            unsigned char h[kBaseHeaderSize];
            size_t got = InnerRead(h, sizeof h, false);
            if (got == 0)
                continue; // container ended on an object boundary
            if (got < sizeof h && std::all_of(h, h + got, [](unsigned char b) { return b == 0; }))
                continue; // padding after the container's last object
            if (got < sizeof h)
                got += InnerRead(h + got, sizeof h - got, true);
            if (got < sizeof h) {
                if (!CutReported)
                    ReportInner(containerAt, objectAt, "object header cut short at the end of the file");
                break;
            }
            uint64_t skipped = 0;
            while (std::memcmp(h, "LOBJ", 4) != 0) {
                std::memmove(h, h + 1, sizeof h - 1);
                if (InnerRead(h + sizeof h - 1, 1, true) < 1) {
                    Ended = true;
                    break;
                }
                ++skipped;
            }
            if (Ended)
                break;
            if (skipped > kSilentGap)
                ReportInner(containerAt, objectAt,
                            std::to_string(skipped) + " bytes without an object signature skipped");
            TInnerSource source(*this);
            std::string what;
            const TParse r = ParseObject(source, h, out, what);
            if (r == TParse::Frame)
                return true;
            if (r == TParse::Bad)
                ReportInner(containerAt, objectAt + skipped, what);
            if (r == TParse::Cut) {
                if (!CutReported)
                    ReportInner(containerAt, objectAt + skipped, "object cut short at the end of the file");
                break;
            }
        }
        Ended = true;
        ReportReadError();
        return false;
    }

private:
    struct TSource {
        virtual ~TSource() = default;
        virtual size_t Read(void* target, size_t size) = 0;
        virtual uint64_t Skip(uint64_t size) = 0;
    };
    struct TFileSource final : TSource {
        explicit TFileSource(TFdInput& in) : In(in) {}
        size_t Read(void* target, size_t size) override { return In.Read(target, size); }
        uint64_t Skip(uint64_t size) override { return In.Skip(size); }
        TFdInput& In;
    };
    struct TInnerSource final : TSource {
        explicit TInnerSource(TBlfReader& r) : R(r) {}
        size_t Read(void* target, size_t size) override
        {
            return R.InnerRead(static_cast<unsigned char*>(target), size, true);
        }
        uint64_t Skip(uint64_t size) override
        {
            unsigned char scratch[256];
            uint64_t done = 0;
            while (done < size) {
                const size_t n =
                    R.InnerRead(scratch, static_cast<size_t>(std::min<uint64_t>(size - done, sizeof scratch)), true);
                if (n == 0)
                    break;
                done += n;
            }
            return done;
        }
        TBlfReader& R;
    };

    bool Start()
    {
        Started = true;
        unsigned char h[kFileHeaderSize] = {};
        const size_t got = In.Read(h, 8);
        if (got < 8 || std::memcmp(h, "LOGG", 4) != 0) {
            if (!ReportReadError())
                ReportOffset(0, "not a BLF file");
            Ended = true;
            return false;
        }
        const uint32_t headerSize = Get32(h + 4);
        const uint32_t known = std::min(headerSize, kFileHeaderSize);
        if (known > 8 && In.Read(h + 8, known - 8) < known - 8) {
            ReportOffset(0, "file header cut short");
            Ended = true;
            return false;
        }
        if (headerSize > kFileHeaderSize)
            In.Skip(headerSize - kFileHeaderSize);
        StartUs = headerSize >= kOffStartTime + 16 ? SystemTimeToUnixMs(h + kOffStartTime) * 1000 : 0;
        return true;
    }

    // Reads top-level objects until a log container opens. A CAN message outside any container
    // (older writers) is returned in `out` when `out` is given.
    bool OpenContainer(TRecordFrame* out, bool& gotFrame)
    {
        for (;;) {
            const uint64_t at = In.Offset();
            unsigned char h[kBaseHeaderSize];
            const size_t got = In.Read(h, sizeof h);
            if (got < sizeof h) {
                if (got > kSilentGap)
                    ReportOffset(at, "object header cut short at the end of the file");
                return false;
            }
            uint64_t skipped = 0;
            while (std::memcmp(h, "LOBJ", 4) != 0) {
                std::memmove(h, h + 1, sizeof h - 1);
                if (In.Read(h + sizeof h - 1, 1) < 1)
                    return false;
                ++skipped;
            }
            if (skipped > kSilentGap)
                ReportOffset(at, std::to_string(skipped) + " bytes without an object signature skipped");
            const uint64_t objectAt = at + skipped;
            const uint32_t type = Get32(h + 12);
            if (type != kTypeLogContainer) {
                TFileSource source(In);
                std::string what;
                TRecordFrame scratch;
                const TParse r = ParseObject(source, h, out ? *out : scratch, what);
                if (r == TParse::Frame && out) {
                    gotFrame = true;
                    return true;
                }
                if (r == TParse::Bad)
                    ReportOffset(objectAt, what);
                if (r == TParse::Cut) {
                    ReportOffset(objectAt, "object cut short at the end of the file");
                    return false;
                }
                continue;
            }
            const uint16_t headerSize = Get16(h + 4);
            const uint32_t objectSize = Get32(h + 8);
            if (headerSize < kBaseHeaderSize || objectSize < uint64_t(headerSize) + kContainerHeaderSize ||
                objectSize > kMaxObjectSize) {
                ReportOffset(objectAt, "log container of impossible size " + std::to_string(objectSize));
                continue;
            }
            unsigned char c[kContainerHeaderSize];
            In.Skip(headerSize - kBaseHeaderSize);
            if (In.Read(c, sizeof c) < sizeof c) {
                ReportOffset(objectAt, "log container cut short at the end of the file");
                return false;
            }
            const uint16_t method = Get16(c);
            RawLeft = objectSize - headerSize - kContainerHeaderSize;
            Declared = Get32(c + 8);
            if (Declared > kMaxContainerContent) {
                ReportOffset(objectAt, "log container of " + std::to_string(Declared) + " bytes (more than " +
                                           std::to_string(kMaxContainerContent) + ") skipped");
                In.Skip(RawLeft);
                continue;
            }
            if (method != kCompressionNone && !(method == kCompressionZlib && ZipReady)) {
                ReportOffset(objectAt, "log container with unknown compression " + std::to_string(method) + " skipped");
                In.Skip(RawLeft);
                continue;
            }
            Zlib = method == kCompressionZlib;
            if (Zlib) {
                inflateReset(&Zip);
                Zip.avail_in = 0;
                ZipDone = false;
                Inflated = 0;
            }
            InContainer = true;
            ContainerAt = objectAt;
            InnerPos = 0;
            WinPos = WinEnd = 0;
            return true;
        }
    }

    void CloseContainer()
    {
        if (In.Skip(RawLeft) < RawLeft) {
            ReportOffset(ContainerAt, "log container cut short at the end of the file");
            CutReported = true;
        }
        RawLeft = 0;
        InContainer = false;
        WinPos = WinEnd = 0;
    }

    // More content of the current container into the window; false (and the container closed)
    // when it has no more.
    bool RefillWindow()
    {
        if (!InContainer)
            return false;
        WinPos = WinEnd = 0;
        if (!Zlib) {
            const size_t n = In.Read(Window.get(), static_cast<size_t>(std::min<uint64_t>(RawLeft, kWindow)));
            RawLeft -= n;
            WinEnd = n;
            if (n == 0)
                CloseContainer();
            return n > 0;
        }
        while (!ZipDone) {
            if (Zip.avail_in == 0 && RawLeft > 0) {
                const size_t n = In.Read(ZipIn.get(), static_cast<size_t>(std::min<uint64_t>(RawLeft, kWindow)));
                RawLeft = n == 0 ? 0 : RawLeft - n;
                Zip.next_in = ZipIn.get();
                Zip.avail_in = static_cast<uInt>(n);
            }
            Zip.next_out = Window.get();
            Zip.avail_out = static_cast<uInt>(kWindow);
            const int r = inflate(&Zip, Z_NO_FLUSH);
            WinEnd = kWindow - Zip.avail_out;
            Inflated += WinEnd;
            if (r == Z_STREAM_END) {
                ZipDone = true;
            } else if (Inflated > std::max<uint64_t>(Declared, kWindow)) {
                // More than the container said it holds: damage, or a decompression bomb.
                ReportOffset(ContainerAt, "log container inflates beyond its " + std::to_string(Declared) +
                                              " bytes, rest of it skipped");
                ZipDone = true;
            } else if (r != Z_OK && !(r == Z_BUF_ERROR && (Zip.avail_in > 0 || RawLeft > 0))) {
                ReportOffset(ContainerAt, std::string("log container does not inflate (") +
                                              (r == Z_BUF_ERROR ? "data cut short"
                                               : Zip.msg        ? Zip.msg
                                                                : "zlib error") +
                                              "), rest of it skipped");
                ZipDone = true;
            }
            if (WinEnd > 0)
                return true;
        }
        CloseContainer();
        return false;
    }

    // Content bytes of the log containers; with `cross`, an object continues into the next container.
    size_t InnerRead(unsigned char* target, size_t size, bool cross)
    {
        size_t done = 0;
        while (done < size) {
            if (WinPos == WinEnd && !RefillWindow()) {
                bool gotFrame = false;
                if (!cross || !OpenContainer(nullptr, gotFrame))
                    break;
                continue;
            }
            const size_t n = std::min(size - done, WinEnd - WinPos);
            std::memcpy(target + done, Window.get() + WinPos, n);
            WinPos += n;
            done += n;
            InnerPos += n;
        }
        return done;
    }

    // The object whose base header is `h`, its remaining bytes taken from `source`.
    TParse ParseObject(TSource& source, const unsigned char* h, TRecordFrame& out, std::string& what)
    {
        const uint16_t headerSize = Get16(h + 4);
        const uint16_t version = Get16(h + 6);
        const uint32_t objectSize = Get32(h + 8);
        const uint32_t type = Get32(h + 12);
        if (headerSize < kBaseHeaderSize || objectSize < headerSize || objectSize > kMaxObjectSize) {
            what = "object of type " + std::to_string(type) + " with impossible sizes (header " +
                   std::to_string(headerSize) + ", object " + std::to_string(objectSize) + ")";
            return TParse::Bad;
        }
        const uint64_t rest = objectSize - kBaseHeaderSize;
        const bool can = type == kTypeCanMessage || type == kTypeCanMessage2 || type == kTypeCanFdMessage;
        const uint32_t versionSize = version == 1 ? kHeaderV1Size : version == 2 ? kHeaderV2Size : 0;
        const uint32_t bodyNeeded = type == kTypeCanFdMessage ? kCanFdMessageSize : kCanMessageSize;
        if (!can) {
            if (type == kTypeCanFdMessage64)
                ++Dropped.Fd;
            if (type == kTypeCanError || type == kTypeCanErrorExt || type == kTypeCanFdError64)
                ++Dropped.Error;
            return source.Skip(rest) < rest ? TParse::Cut : TParse::Passed;
        }
        if (versionSize == 0 || headerSize < kBaseHeaderSize + versionSize ||
            objectSize < uint64_t(headerSize) + bodyNeeded) {
            what = "CAN message object with header version " + std::to_string(version) + ", header size " +
                   std::to_string(headerSize) + " and object size " + std::to_string(objectSize);
            return source.Skip(rest) < rest ? TParse::Cut : TParse::Bad;
        }
        unsigned char v[kHeaderV2Size];
        unsigned char m[kCanFdMessageSize];
        const uint64_t after = objectSize - headerSize - bodyNeeded;
        if (source.Read(v, versionSize) < versionSize ||
            source.Skip(headerSize - kBaseHeaderSize - versionSize) <
                uint64_t(headerSize - kBaseHeaderSize - versionSize) ||
            source.Read(m, bodyNeeded) < bodyNeeded || source.Skip(after) < after)
            return TParse::Cut;
        const uint32_t timeFlags = Get32(v);
        const uint64_t stamp = version == 1 ? Get64(v + 8) : Get64(v + 8);
        const uint64_t sinceUs = timeFlags == kTimeTenMicros ? stamp * 10 : stamp / 1000;
        if (type == kTypeCanFdMessage && (m[13] & kFdFlagEdl)) {
            ++Dropped.Fd;
            return TParse::Passed;
        }
        out.Channel = std::max<int>(1, Get16(m));
        const uint32_t id = Get32(m + 4);
        TCanFrame& f = out.Frame;
        f = TCanFrame{};
        f.Standard = (id & kIdExtended) == 0;
        f.Id = id & 0x1FFFFFFF;
        if (f.Standard && f.Id > 0x7FF) {
            what = "standard identifier " + std::to_string(f.Id) + " out of range";
            return TParse::Bad;
        }
        f.Request = (m[2] & kFlagRemote) != 0;
        f.Length = m[3] & 0x0F;
        if (!f.Request)
            std::memcpy(f.Data, type == kTypeCanFdMessage ? m + 20 : m + 8,
                        static_cast<size_t>(CanDataBytes(f.Length)));
        out.Outgoing = (m[2] & kFlagTx) != 0;
        out.WallUs = StartUs + static_cast<int64_t>(std::min<uint64_t>(sinceUs, uint64_t(1) << 62));
        f.Time = TickFromWallUs(out.WallUs);
        return TParse::Frame;
    }

    void ReportInner(uint64_t containerAt, uint64_t innerAt, const std::string& what)
    {
        ReportOffset(containerAt, "log container byte " + std::to_string(innerAt) + ": " + what);
    }

    bool Started = false;
    bool Ended = false;
    bool CutReported = false; // the end of the file came inside a container, and that was said
    int64_t StartUs = 0;
    bool InContainer = false;
    uint64_t ContainerAt = 0;
    uint64_t InnerPos = 0;
    uint64_t RawLeft = 0;
    bool Zlib = false;
    bool ZipReady = false;
    bool ZipDone = false;
    uint64_t Inflated = 0; // content bytes of the current container so far
    uint64_t Declared = 0; // content bytes the current container's header gives
    z_stream Zip{};
    std::unique_ptr<unsigned char[]> ZipIn;
    std::unique_ptr<unsigned char[]> Window;
    size_t WinPos = 0;
    size_t WinEnd = 0;
};

std::unique_ptr<TRecordReader> CreateReader(int fd, bool owned, const std::string& name)
{
    return std::make_unique<TBlfReader>(fd, owned, name);
}

bool Sniff(std::string_view head)
{
    return head.substr(0, 4) == "LOGG";
}

} // namespace

extern const TRecordFormatEntry kFormatBlf = {TRecordFormat::Blf, "blf",          "Vector BLF", ".blf", Sniff,
                                              CreateReader,       CreateBlfWriter};

} // namespace tcm::recording
