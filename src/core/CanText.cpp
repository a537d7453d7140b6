#include "core/CanText.h"

#include <charconv>
#include <cstring>

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr uint32_t kStandardMax = 0x7FF;
constexpr uint32_t kExtendedMax = 0x1FFFFFFF;

// Reads the part after '#': "R", "R<len>" or hex byte pairs, optionally
// '.'-separated. `lowerR` also takes "r".
bool ParsePayload(std::string_view text, bool lowerR, TCanFrame& frame)
{
    if (!text.empty() && (text[0] == 'R' || (lowerR && text[0] == 'r'))) {
        frame.Request = true;
        if (text.size() == 1)
            return true;
        if (text.size() != 2 || text[1] < '0' || text[1] > '8')
            return false;
        frame.Length = text[1] - '0';
        return true;
    }
    int count = 0;
    size_t i = 0;
    while (i < text.size()) {
        if (count > 0 && text[i] == '.' && i + 1 < text.size())
            ++i;
        if (count == 8 || i + 1 >= text.size())
            return false;
        const int hi = HexDigitValue(text[i]);
        const int lo = HexDigitValue(text[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        frame.Data[count++] = static_cast<uint8_t>(hi * 16 + lo);
        i += 2;
    }
    frame.Length = count;
    return true;
}

} // namespace

int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

char* WriteHex(char* out, uint32_t value, int minDigits)
{
    // Written backwards into a local buffer, then copied in one step.
    char buf[16];
    int n = 0;
    do {
        buf[15 - n++] = kHexDigits[value & 0xF];
        value >>= 4;
    } while (value != 0);
    for (; n < minDigits && n < 16; ++n)
        buf[15 - n] = '0';
    std::memcpy(out, buf + 16 - n, static_cast<size_t>(n));
    return out + n;
}

void AppendHex(std::string& out, uint32_t value, int minDigits)
{
    char buf[16];
    out.append(buf, WriteHex(buf, value, minDigits));
}

char* WriteCanId(char* out, uint32_t id, bool standard)
{
    return WriteHex(out, id, standard ? 3 : 8);
}

void AppendCanId(std::string& out, uint32_t id, bool standard)
{
    char buf[16];
    out.append(buf, WriteCanId(buf, id, standard));
}

std::string FormatCanId(uint32_t id, bool standard)
{
    std::string out;
    AppendCanId(out, id, standard);
    return out;
}

void AppendHexByte(std::string& out, uint8_t value)
{
    const char pair[2] = {kHexDigits[value >> 4], kHexDigits[value & 0xF]};
    out.append(pair, 2);
}

char* WriteDataBytes(char* out, const uint8_t* data, int count, char separator)
{
    for (int i = 0; i < count; ++i) {
        if (i > 0 && separator != '\0')
            *out++ = separator;
        *out++ = kHexDigits[data[i] >> 4];
        *out++ = kHexDigits[data[i] & 0xF];
    }
    return out;
}

void AppendDataBytes(std::string& out, const uint8_t* data, int count, char separator)
{
    // Eight bytes at a time through a local buffer: one append per block.
    char buf[8 * 3];
    while (count > 0) {
        const int block = count < 8 ? count : 8;
        out.append(buf, WriteDataBytes(buf, data, block, separator));
        data += block;
        count -= block;
        if (count > 0 && separator != '\0')
            out += separator;
    }
}

void AppendDecimal(std::string& out, uint32_t value)
{
    char buf[12];
    const auto result = std::to_chars(buf, buf + sizeof(buf), value);
    out.append(buf, result.ptr);
}

void AppendDecimal(std::string& out, int32_t value)
{
    char buf[12];
    const auto result = std::to_chars(buf, buf + sizeof(buf), value);
    out.append(buf, result.ptr);
}

void AppendCompactFrame(std::string& out, const TCanFrame& frame)
{
    AppendCanId(out, frame.Id & (frame.Standard ? kStandardMax : kExtendedMax), frame.Standard);
    out += '#';
    const int length = CanDataBytes(frame.Length);
    if (frame.Request) {
        out += 'R';
        if (length != 0)
            out += static_cast<char>('0' + length);
    } else {
        AppendDataBytes(out, frame.Data, length, '\0');
    }
}

std::string FormatCompactFrame(const TCanFrame& frame)
{
    std::string out;
    AppendCompactFrame(out, frame);
    return out;
}

std::optional<TCanFrame> ParseCompactFrame(std::string_view text)
{
    const size_t hash = text.find('#');
    if (hash != 3 && hash != 8)
        return std::nullopt;
    TCanFrame frame;
    frame.Standard = hash == 3;
    if (!ParseHexField(text.substr(0, hash), hash, frame.Id) ||
        frame.Id > (frame.Standard ? kStandardMax : kExtendedMax))
        return std::nullopt;
    if (!ParsePayload(text.substr(hash + 1), true, frame))
        return std::nullopt;
    return frame;
}

std::optional<TCanFrame> ParseCompactFrameAs(std::string_view text, bool standard)
{
    const size_t hash = text.find('#');
    if (hash == std::string_view::npos)
        return std::nullopt;
    TCanFrame frame;
    frame.Standard = standard;
    if (!ParseHexField(text.substr(0, hash), 8, frame.Id) || frame.Id > (standard ? kStandardMax : kExtendedMax))
        return std::nullopt;
    if (!ParsePayload(text.substr(hash + 1), true, frame))
        return std::nullopt;
    return frame;
}

bool ParseHexField(std::string_view text, size_t maxDigits, uint32_t& out)
{
    if (text.empty() || text.size() > maxDigits || text.size() > 8)
        return false;
    uint32_t value = 0;
    for (const char c : text) {
        const int digit = HexDigitValue(c);
        if (digit < 0)
            return false;
        value = value * 16 + static_cast<uint32_t>(digit);
    }
    out = value;
    return true;
}

bool ParseHexValue(std::string_view text, uint32_t& out)
{
    const size_t first = text.find_first_not_of('0');
    if (text.empty())
        return false;
    if (first == std::string_view::npos) {
        out = 0;
        return true;
    }
    // Leading zeros were digits; what follows must be a field of at most 8 digits.
    return ParseHexField(text.substr(first), 8, out);
}
