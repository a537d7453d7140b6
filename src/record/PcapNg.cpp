// pcapng, read as a stream of blocks: section headers set the byte order, interface descriptions
// give each interface's link type and time resolution, enhanced packet blocks carry the frames.
// Other blocks are passed over without being held in memory.
#include <algorithm>
#include <vector>

#include "record/RecordIo.h"
#include "record/SocketCan.h"

namespace tcm::recording {
namespace {

constexpr uint32_t kSectionHeader = 0x0A0D0D0A;
constexpr uint32_t kByteOrderMagic = 0x1A2B3C4D;
constexpr uint32_t kInterfaceDescription = 1;
constexpr uint32_t kSimplePacket = 3;
constexpr uint32_t kEnhancedPacket = 6;
constexpr uint32_t kMaxBlock = 64u * 1024 * 1024;
constexpr size_t kMaxInterfaces = 4096;
constexpr uint16_t kOptionTimeResolution = 9;

__extension__ typedef unsigned __int128 TWide;

struct TInterface {
    uint16_t LinkType = 0;
    uint8_t Resolution = 6; // if_tsresol: 10^-n, or 2^-n with the top bit set
};

} // namespace

struct TPcapNgParser::TState {
    TFdInput& In;
    TReport Report;
    void* Context;
    TLeftOutCounts& Dropped;
    bool Swapped = false;
    bool Ended = false;
    std::vector<TInterface> Interfaces;

    uint32_t Get32(const unsigned char* p) const
    {
        uint32_t v;
        std::memcpy(&v, p, 4);
        return Swapped ? __builtin_bswap32(v) : v;
    }
    uint16_t Get16(const unsigned char* p) const
    {
        uint16_t v;
        std::memcpy(&v, p, 2);
        return Swapped ? __builtin_bswap16(v) : v;
    }
    void Say(uint64_t at, const std::string& what) { Report(Context, at, what); }

    bool Section(uint64_t at, const unsigned char* raw)
    {
        uint32_t magic;
        std::memcpy(&magic, raw, 4);
        if (magic != kByteOrderMagic && magic != __builtin_bswap32(kByteOrderMagic)) {
            Say(at, "section header without the byte-order magic");
            return false;
        }
        Swapped = magic != kByteOrderMagic;
        Interfaces.clear();
        return true;
    }

    void Interface(const unsigned char* body, uint32_t bodySize)
    {
        TInterface i;
        i.LinkType = Get16(body);
        // Options follow the 8 fixed bytes: code, length, value padded to 4 bytes.
        for (uint32_t o = 8; o + 4 <= bodySize;) {
            const uint16_t code = Get16(body + o);
            const uint16_t len = Get16(body + o + 2);
            if (code == 0 || o + 4 + len > bodySize)
                break;
            if (code == kOptionTimeResolution && len >= 1)
                i.Resolution = body[o + 4];
            o += 4 + ((len + 3u) & ~3u);
        }
        if (Interfaces.size() < kMaxInterfaces)
            Interfaces.push_back(i);
    }

    static bool ToMicroseconds(uint64_t stamp, uint8_t resolution, int64_t& us)
    {
        TWide units = 1;
        const unsigned exponent = resolution & 0x7F;
        if (resolution & 0x80) {
            if (exponent > 100)
                return false;
            units <<= exponent;
        } else {
            if (exponent > 30)
                return false;
            for (unsigned k = 0; k < exponent; ++k)
                units *= 10;
        }
        const TWide value = static_cast<TWide>(stamp) * 1000000u / units;
        if (value > static_cast<TWide>(INT64_MAX))
            return false;
        us = static_cast<int64_t>(value);
        return true;
    }
};

TPcapNgParser::TPcapNgParser(TFdInput& in, TReport report, void* context, TLeftOutCounts& dropped)
    : State(new TState{in, report, context, dropped, false, false, {}})
{
}

TPcapNgParser::~TPcapNgParser()
{
    delete State;
}

bool TPcapNgParser::Next(TRecordFrame& out)
{
    TState& s = *State;
    // The first block's type was read by the caller.
    bool typeRead = s.In.Offset() == 4;
    while (!s.Ended) {
        const uint64_t at = s.In.Offset() - (typeRead ? 4 : 0);
        unsigned char head[8];
        const size_t want = typeRead ? 4 : 8;
        const size_t got = s.In.Read(typeRead ? head + 4 : head, want);
        if (typeRead)
            std::memcpy(head, "\x0A\x0D\x0D\x0A", 4);
        typeRead = false;
        if (got == 0 && want == 8)
            break;
        if (got < want) {
            s.Say(at, "block header cut short at the end of the file");
            break;
        }
        uint32_t type = s.Get32(head);
        // A section header block sets the byte order of everything after its type.
        unsigned char magic[4] = {};
        if (type == kSectionHeader) {
            if (s.In.Read(magic, 4) < 4) {
                s.Say(at, "section header cut short at the end of the file");
                break;
            }
            if (!s.Section(at, magic))
                break;
            type = kSectionHeader;
        }
        const uint32_t length = s.Get32(head + 4);
        if (length < 12 || length % 4 != 0 || length > kMaxBlock) {
            // Without a believable length the next block cannot be found.
            s.Say(at, "block length " + std::to_string(length) + " is impossible; rest of file skipped");
            break;
        }
        uint64_t left = length - 8 - (type == kSectionHeader ? 4 : 0); // body and trailing length
        if (type == kInterfaceDescription || type == kEnhancedPacket) {
            unsigned char body[kMaxSocketCanRecord + 64];
            const uint32_t keep = static_cast<uint32_t>(std::min<uint64_t>(left - 4, sizeof body));
            if (s.In.Read(body, keep) < keep) {
                s.Say(at, "block cut short at the end of the file");
                break;
            }
            left -= keep;
            if (type == kInterfaceDescription && keep >= 8) {
                s.Interface(body, keep);
            } else if (type == kEnhancedPacket && keep >= 20) {
                const uint32_t iface = s.Get32(body);
                const uint64_t stamp = (uint64_t(s.Get32(body + 4)) << 32) | s.Get32(body + 8);
                const uint32_t captured = s.Get32(body + 12);
                std::string what;
                int64_t us = 0;
                if (iface >= s.Interfaces.size())
                    what = "packet of an undescribed interface " + std::to_string(iface);
                else if (s.Interfaces[iface].LinkType != kLinkSocketCan)
                    what = "packet of link type " + std::to_string(s.Interfaces[iface].LinkType) + " skipped";
                else if (captured > keep - 20)
                    what = "packet length " + std::to_string(captured) + " beyond its block";
                else if (!TState::ToMicroseconds(stamp, s.Interfaces[iface].Resolution, us))
                    what = "time stamp out of range";
                else if (DecodeSocketCan(body + 20, captured, out, what, s.Dropped)) {
                    if (s.In.Skip(left) < left)
                        s.Say(at, "block cut short at the end of the file");
                    out.Channel = static_cast<int>(std::min<uint32_t>(iface, 1u << 20)) + 1;
                    out.WallUs = us;
                    out.Frame.Time = TickFromWallUs(us);
                    return true;
                }
                if (!what.empty())
                    s.Say(at, what);
            } else if (type == kEnhancedPacket) {
                s.Say(at, "packet block too short");
            }
        } else if (type == kSimplePacket) {
            s.Say(at, "simple packet block without a time skipped");
        }
        if (s.In.Skip(left) < left) {
            s.Say(at, "block cut short at the end of the file");
            break;
        }
    }
    s.Ended = true;
    return false;
}

} // namespace tcm::recording
