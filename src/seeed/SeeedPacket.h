#pragma once
#include <array>
#include <cstdint>

#include "core/CanGeneral.h"
#include "core/CanSettings.h"

// Every packet on the adapter's link is 20 bytes: AA 55, a 17-byte body
// (type byte first) and the low byte of the body's sum.
constexpr int kSeeedPacketSize = 20;
constexpr int kSeeedBodySize = 17;
constexpr uint8_t kSeeedHeader0 = 0xAA;
constexpr uint8_t kSeeedHeader1 = 0x55;
constexpr uint8_t kSeeedTypeFrame = 0x01;
constexpr uint8_t kSeeedTypeSetAndStart = 0x02;
constexpr uint8_t kSeeedModeNormal = 0x00;
constexpr uint8_t kSeeedModeLoopback = 0x03;

// The adapter's speed code of a bit rate; 0 for a rate it does not know.
uint8_t SpeedCode(int32_t rate);

// The rates the adapter supports, ascending.
constexpr std::array<int32_t, 12> kSeeedRates = {5000,   10000,  20000,  50000,  100000, 125000,
                                                 200000, 250000, 400000, 500000, 800000, 1000000};

// Sum of the 17 body bytes modulo 256.
uint8_t SeeedChecksum(const uint8_t* body);

// An outgoing packet, built completely at construction and read-only afterwards.
class TSeeedPacketCustom {
public:
    virtual ~TSeeedPacketCustom() = default;

    static constexpr int Size() { return kSeeedPacketSize; }
    const uint8_t* Wire() const { return WireBytes.data(); }
    uint32_t PacketId() const { return Id; }

protected:
    explicit TSeeedPacketCustom(uint32_t packetId) : Id(packetId) {}
    // Fills the body, then frames it with header and checksum. Derived
    // constructors call it once their fields are stored.
    void Build();
    virtual void FillBody(uint8_t* body) const;

private:
    uint32_t Id;
    std::array<uint8_t, kSeeedBodySize> Body{};
    std::array<uint8_t, kSeeedPacketSize> WireBytes{};
};

// Sets bit rate, identifier mode and working mode, and starts the adapter.
class TSeeedPacketSetAndStart final : public TSeeedPacketCustom {
public:
    TSeeedPacketSetAndStart(const TCanSettings& settings, uint8_t mode);

private:
    void FillBody(uint8_t* body) const override;
    int32_t Rate;
    bool Extended;
    uint8_t Mode;
};

// Carries one CAN frame to the adapter; PacketId is the frame's identifier.
class TSeeedPacketFrame final : public TSeeedPacketCustom {
public:
    explicit TSeeedPacketFrame(const TCanFrame& frame);

private:
    void FillBody(uint8_t* body) const override;
    TCanFrame Frame;
};
