#pragma once
#include <cstdint>
#include <vector>

#include "core/CanGeneral.h"

namespace tcmtest {

// A frame as the tests write one: identifier, 11- or 29-bit, data or remote,
// the length as given, and up to eight data bytes (the rest zero).
inline TCanFrame MakeFrame(uint32_t id, bool standard, bool request, int32_t length, std::vector<uint8_t> data = {})
{
    TCanFrame f;
    f.Id = id;
    f.Standard = standard;
    f.Request = request;
    f.Length = length;
    for (size_t i = 0; i < data.size() && i < 8; ++i)
        f.Data[i] = data[i];
    return f;
}

} // namespace tcmtest
