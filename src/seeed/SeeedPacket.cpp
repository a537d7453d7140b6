#include "seeed/SeeedPacket.h"

#include <cstring>

uint8_t SpeedCode(int32_t rate)
{
    // The table runs from the slowest rate (code 12) to the fastest (code 1).
    for (size_t i = 0; i < kSeeedRates.size(); ++i)
        if (kSeeedRates[i] == rate)
            return static_cast<uint8_t>(12 - i);
    return 0;
}

uint8_t SeeedChecksum(const uint8_t* body)
{
    uint32_t sum = 0;
    for (int i = 0; i < kSeeedBodySize; ++i)
        sum += body[i];
    return static_cast<uint8_t>(sum);
}

void TSeeedPacketCustom::Build()
{
    Body.fill(0);
    FillBody(Body.data());
    WireBytes[0] = kSeeedHeader0;
    WireBytes[1] = kSeeedHeader1;
    std::memcpy(&WireBytes[2], Body.data(), kSeeedBodySize);
    WireBytes[kSeeedPacketSize - 1] = SeeedChecksum(Body.data());
}

void TSeeedPacketCustom::FillBody(uint8_t*) const {}

TSeeedPacketSetAndStart::TSeeedPacketSetAndStart(const TCanSettings& settings, uint8_t mode)
    : TSeeedPacketCustom(0), Rate(settings.Rate), Extended(settings.Extended), Mode(mode)
{
    Build();
}

void TSeeedPacketSetAndStart::FillBody(uint8_t* body) const
{
    body[0] = kSeeedTypeSetAndStart;
    body[1] = SpeedCode(Rate);
    body[2] = Extended ? 0x02 : 0x01;
    // bytes 3..10: acceptance filter and mask, always zero
    body[11] = Mode;
}

TSeeedPacketFrame::TSeeedPacketFrame(const TCanFrame& frame) : TSeeedPacketCustom(frame.Id), Frame(frame)
{
    Build();
}

void TSeeedPacketFrame::FillBody(uint8_t* body) const
{
    body[0] = kSeeedTypeFrame;
    body[1] = Frame.Standard ? 0x01 : 0x02;
    body[2] = Frame.Request ? 0x02 : 0x01;
    // All 32 bits of the identifier, least significant byte first; nothing is masked.
    body[3] = static_cast<uint8_t>(Frame.Id);
    body[4] = static_cast<uint8_t>(Frame.Id >> 8);
    body[5] = static_cast<uint8_t>(Frame.Id >> 16);
    body[6] = static_cast<uint8_t>(Frame.Id >> 24);
    body[7] = static_cast<uint8_t>(Frame.Length);
    std::memcpy(&body[8], Frame.Data, 8);
}
