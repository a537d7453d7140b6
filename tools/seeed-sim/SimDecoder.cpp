#include "SimDecoder.h"

#include <cstring>

int32_t RateOfSpeedCode(uint8_t code)
{
    // Code 12 is the slowest rate, code 1 the fastest: the table index is 12 - code.
    if (code < 1 || code > kSeeedRates.size())
        return 0;
    return kSeeedRates[kSeeedRates.size() - code];
}

TSeeedSimDecoder::TPacket TSeeedSimDecoder::PutByte(uint8_t byte, uint32_t now)
{
    if (!Buffer.Put(byte))
        return TPacket::None;
    if (Buffer.At(0) != kSeeedHeader0 || Buffer.At(1) != kSeeedHeader1)
        return TPacket::None;
    uint8_t w[kSeeedPacketSize];
    Buffer.CopyWindow(w);
    if (SeeedChecksum(&w[2]) != w[19])
        return TPacket::None;

    // A packet: consumed whatever its type, so the next one must come as 20 fresh bytes.
    Buffer.Clear();
    std::memcpy(Last, w, sizeof Last);
    switch (w[2]) {
    case kSeeedTypeSetAndStart:
        LastSettings.SpeedCode = w[3];
        LastSettings.Rate = RateOfSpeedCode(w[3]);
        LastSettings.FrameType = w[4];
        LastSettings.Extended = w[4] == 0x02;
        LastSettings.Mode = w[13];
        LastSettings.Time = now;
        return TPacket::Settings;
    case kSeeedTypeFrame:
        LastFrame.Standard = w[3] == 0x01;
        LastFrame.Request = w[4] == 0x02;
        LastFrame.Id = static_cast<uint32_t>(w[5]) | static_cast<uint32_t>(w[6]) << 8 |
                       static_cast<uint32_t>(w[7]) << 16 | static_cast<uint32_t>(w[8]) << 24;
        LastFrame.Length = w[9];
        std::memcpy(LastFrame.Data, &w[10], 8);
        LastFrame.Time = now;
        return TPacket::Frame;
    default:
        return TPacket::Other;
    }
}
