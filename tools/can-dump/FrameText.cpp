#include "FrameText.h"

#include <cctype>

namespace {

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::optional<TCanFrame> ParseFrameText(const std::string& text, bool standard)
{
    const auto hash = text.find('#');
    if (hash == std::string::npos || hash == 0 || hash > 8)
        return std::nullopt;
    uint32_t id = 0;
    for (size_t i = 0; i < hash; ++i) {
        const int d = HexDigit(text[i]);
        if (d < 0)
            return std::nullopt;
        id = id * 16 + static_cast<uint32_t>(d);
    }
    if (id > (standard ? 0x7FFu : 0x1FFFFFFFu))
        return std::nullopt;

    TCanFrame frame;
    frame.Id = id;
    frame.Standard = standard;
    const std::string data = text.substr(hash + 1);
    if (data == "R" || data == "r") {
        frame.Request = true;
        return frame;
    }
    if (data.size() % 2 != 0 || data.size() > 16)
        return std::nullopt;
    for (size_t i = 0; i < data.size(); i += 2) {
        const int hi = HexDigit(data[i]);
        const int lo = HexDigit(data[i + 1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        frame.Data[i / 2] = static_cast<uint8_t>(hi * 16 + lo);
    }
    frame.Length = static_cast<int32_t>(data.size() / 2);
    return frame;
}
