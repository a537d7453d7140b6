#include "core/FrameFilter.h"

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
