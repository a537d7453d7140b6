#include "FrameFilter.h"

#include "core/CanText.h"

std::optional<TFrameFilter> TFrameFilter::Parse(std::string_view text)
{
    const size_t split = text.find_first_of(":~");
    if (split == std::string_view::npos)
        return std::nullopt;
    TFrameFilter filter;
    filter.Inverted = text[split] == '~';
    if (!ParseHexField(text.substr(0, split), 8, filter.Id) || !ParseHexField(text.substr(split + 1), 8, filter.Mask))
        return std::nullopt;
    if (split == 8)
        filter.Id |= kExtendedBit;
    // Bit 29 marks error frames in SocketCAN; candump takes it out of the mask.
    filter.Mask &= ~kErrorBit;
    return filter;
}

bool TFrameFilter::Passes(const TCanFrame& frame) const
{
    const uint32_t key =
        (frame.Id & kIdBits) | (frame.Standard ? 0u : kExtendedBit) | (frame.Request ? kRemoteBit : 0u);
    return ((key & Mask) == (Id & Mask)) != Inverted;
}

bool TFrameFilterSet::Passes(const TCanFrame& frame) const
{
    if (Filters.empty())
        return true;
    for (const TFrameFilter& filter : Filters)
        if (filter.Passes(frame))
            return true;
    return false;
}
