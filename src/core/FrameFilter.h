#pragma once
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "core/CanGeneral.h"

// Receive filters by candump's rules, as SocketCAN applies them. A frame is seen
// as a 32-bit key: its identifier, bit 31 set for an extended identifier and
// bit 30 for a remote frame.
//   ID:MASK  passes when (key & MASK) == (ID & MASK)
//   ID~MASK  passes when (key & MASK) != (ID & MASK)
// An ID written with 8 hex digits is an extended identifier (bit 31 set in ID),
// which counts only when MASK has bit 31 too:
//   123:7FF             identifier 123, standard or extended, data or remote
//   123:C00007FF        standard identifier 123, data frames only
//   12345678:DFFFFFFF   extended identifier 12345678, data frames only
struct TFrameFilter {
    uint32_t Id = 0;
    uint32_t Mask = 0;
    bool Inverted = false;

    static constexpr uint32_t kExtendedBit = 0x80000000u;
    static constexpr uint32_t kRemoteBit = 0x40000000u;
    static constexpr uint32_t kErrorBit = 0x20000000u;
    static constexpr uint32_t kIdBits = 0x1FFFFFFFu;

    static std::optional<TFrameFilter> Parse(std::string_view text);
    bool Passes(const TCanFrame& frame) const { return Passes(frame.Id, frame.Standard, frame.Request); }
    bool Passes(uint32_t id, bool standard, bool request) const
    {
        const uint32_t key = (id & kIdBits) | (standard ? 0u : kExtendedBit) | (request ? kRemoteBit : 0u);
        return ((key & Mask) == (Id & Mask)) != Inverted;
    }
};

// Filters given together: a frame passes when any one of them lets it pass, and
// every frame passes when there is none.
class TFrameFilterSet {
public:
    void Add(const TFrameFilter& filter) { Filters.push_back(filter); }
    bool Passes(const TCanFrame& frame) const { return Passes(frame.Id, frame.Standard, frame.Request); }
    bool Passes(uint32_t id, bool standard, bool request) const
    {
        if (Filters.empty())
            return true;
        for (const TFrameFilter& filter : Filters)
            if (filter.Passes(id, standard, request))
                return true;
        return false;
    }
    bool Empty() const { return Filters.empty(); }

private:
    std::vector<TFrameFilter> Filters;
};
