#include "SimText.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

std::string Hex2(uint8_t value)
{
    char text[3];
    std::snprintf(text, sizeof text, "%02X", value);
    return text;
}

} // namespace

std::string SettingsLine(const TSeeedSimSettings& s)
{
    std::string line = "settings: rate ";
    if (s.Rate != 0)
        line += std::to_string(s.Rate);
    else
        line += "unknown (speed code " + Hex2(s.SpeedCode) + ")";
    line += " mode ";
    if (s.FrameType == 0x01)
        line += "Standard";
    else if (s.FrameType == 0x02)
        line += "Extended";
    else
        line += "unknown (" + Hex2(s.FrameType) + ")";
    line += " working mode ";
    if (s.Loopback())
        line += "loopback";
    else if (s.Normal())
        line += "normal";
    else
        line += Hex2(s.Mode) + " (unknown, idle)";
    return line;
}

std::string FrameLine(const TCanFrame& f)
{
    char id[16];
    std::snprintf(id, sizeof id, f.Standard ? "%03X" : "%08X", f.Id);
    std::string line = "frame: id ";
    line += id;
    line += f.Standard ? " std" : " ext";
    line += f.Request ? " remote" : " data";
    line += " len " + std::to_string(f.Length);
    if (!f.Request) {
        const int bytes = CanDataBytes(f.Length);
        if (bytes > 0)
            line += " data";
        for (int i = 0; i < bytes; ++i)
            line += " " + Hex2(f.Data[i]);
    }
    return line;
}

std::string OtherPacketLine(const uint8_t* packet)
{
    std::string line = "packet: type " + Hex2(packet[2]) + " bytes";
    for (int i = 0; i < kSeeedPacketSize; ++i)
        line += " " + Hex2(packet[i]);
    return line;
}

std::string StatsLine(const TSeeedSimulator::TCounters& before, const TSeeedSimulator::TCounters& after,
                      double seconds)
{
    const auto rate = [&](uint64_t a, uint64_t b) {
        return std::to_string(seconds > 0 ? static_cast<uint64_t>(std::llround((b - a) / seconds)) : 0);
    };
    return "stats: generated " + rate(before.FramesGenerated, after.FramesGenerated) + "/s sent " +
           rate(before.FramesSent, after.FramesSent) + "/s overrun " +
           rate(before.FramesOverrun, after.FramesOverrun) + "/s bytes " +
           rate(before.BytesWritten, after.BytesWritten) + "/s received " +
           rate(before.FramesReceived, after.FramesReceived) + "/s echoed " +
           rate(before.FramesEchoed, after.FramesEchoed) + "/s write failures " +
           std::to_string(after.WriteFailures);
}

bool ParseUnsigned(const std::string& text, int base, uint64_t min, uint64_t max, uint64_t& out)
{
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ')
        return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text.c_str(), &end, base);
    if (errno != 0 || end == text.c_str() || *end != '\0' || value < min || value > max)
        return false;
    out = value;
    return true;
}

bool ParseReal(const std::string& text, double min, double max, double& out)
{
    if (text.empty() || text[0] == ' ')
        return false;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0' || !std::isfinite(value) || value < min || value > max)
        return false;
    out = value;
    return true;
}

bool ParseIdList(const std::string& text, std::vector<uint32_t>& out)
{
    std::vector<uint32_t> ids;
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos)
            comma = text.size();
        std::string item = text.substr(start, comma - start);
        if (item.size() > 2 && item[0] == '0' && (item[1] == 'x' || item[1] == 'X'))
            item = item.substr(2);
        uint64_t id = 0;
        // strtoull would take its own 0x prefix: a second one is not an identifier.
        if (item.find_first_of("xX") != std::string::npos || !ParseUnsigned(item, 16, 0, 0x1FFFFFFF, id))
            return false;
        ids.push_back(static_cast<uint32_t>(id));
        start = comma + 1;
    }
    out = std::move(ids);
    return true;
}
