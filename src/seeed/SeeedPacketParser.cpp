#include "seeed/SeeedPacketParser.h"

#include <cstring>

#include "platform/Tick.h"

void TSeeedPacketBuffer::CopyWindow(uint8_t* out) const
{
    const int tail = kSeeedPacketSize - Start;
    std::memcpy(out, Ring + Start, static_cast<size_t>(tail));
    std::memcpy(out + tail, Ring, static_cast<size_t>(Start));
}

bool TSeeedPacketParser::TryDecode()
{
    uint8_t w[kSeeedPacketSize];
    Buffer.CopyWindow(w);
    if (w[0] != kSeeedHeader0 || w[1] != kSeeedHeader1)
        return false;
    if (SeeedChecksum(&w[2]) != w[19]) {
        ++Damaged;
        return false;
    }

    // The window is a packet: consume it whatever its type.
    Buffer.Clear();
    if (w[2] != kSeeedTypeFrame)
        return true;

    Frame.Standard = w[3] == 0x01;
    Frame.Request = w[4] == 0x02;
    Frame.Id = static_cast<uint32_t>(w[5]) | static_cast<uint32_t>(w[6]) << 8 | static_cast<uint32_t>(w[7]) << 16 |
               static_cast<uint32_t>(w[8]) << 24;
    Frame.Length = w[9];
    std::memcpy(Frame.Data, &w[10], 8);
    Frame.Time = tcm::TickCount();
    Frame.TimeUs = Clock.Stamp(ReadUs != 0 ? ReadUs : Clock.NowUs());

    tcm::TMutexLock guard(HandlerLock);
    if (OnFrame)
        OnFrame(Frame);
    return true;
}

void TSeeedPacketParser::SetOnFrame(THandler handler)
{
    tcm::TMutexLock guard(HandlerLock);
    OnFrame = std::move(handler);
}
