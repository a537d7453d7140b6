#include "SimText.h"

#include <cmath>
#include <string_view>

#include "core/CanText.h"

namespace {

std::string Hex2(uint8_t value)
{
    std::string text;
    AppendHexByte(text, value);
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
    std::string line = "frame: id ";
    AppendCanId(line, f.Id, f.Standard);
    line += f.Standard ? " std" : " ext";
    line += f.Request ? " remote" : " data";
    line += " len ";
    AppendDecimal(line, f.Length);
    if (!f.Request) {
        const int bytes = CanDataBytes(f.Length);
        if (bytes > 0) {
            line += " data ";
            AppendDataBytes(line, f.Data, bytes, ' ');
        }
    }
    return line;
}

std::string OtherPacketLine(const uint8_t* packet)
{
    std::string line = "packet: type " + Hex2(packet[2]) + " bytes ";
    AppendDataBytes(line, packet, kSeeedPacketSize, ' ');
    return line;
}

std::string StatsLine(const TSeeedSimulator::TCounters& before, const TSeeedSimulator::TCounters& after, double seconds)
{
    const auto rate = [&](uint64_t a, uint64_t b) {
        return std::to_string(seconds > 0 ? static_cast<uint64_t>(std::llround((b - a) / seconds)) : 0);
    };
    return "stats: generated " + rate(before.FramesGenerated, after.FramesGenerated) + "/s sent " +
           rate(before.FramesSent, after.FramesSent) + "/s overrun " + rate(before.FramesOverrun, after.FramesOverrun) +
           "/s bytes " + rate(before.BytesWritten, after.BytesWritten) + "/s received " +
           rate(before.FramesReceived, after.FramesReceived) + "/s echoed " +
           rate(before.FramesEchoed, after.FramesEchoed) + "/s write failures " + std::to_string(after.WriteFailures);
}

bool ParseIdList(const std::string& text, std::vector<uint32_t>& out)
{
    std::vector<uint32_t> ids;
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos)
            comma = text.size();
        std::string_view item = std::string_view(text).substr(start, comma - start);
        if (item.size() > 2 && item[0] == '0' && (item[1] == 'x' || item[1] == 'X'))
            item.remove_prefix(2);
        uint32_t id = 0;
        if (!ParseHexValue(item, id) || id > 0x1FFFFFFF)
            return false;
        ids.push_back(id);
        start = comma + 1;
    }
    out = std::move(ids);
    return true;
}
