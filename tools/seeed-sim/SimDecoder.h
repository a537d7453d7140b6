#pragma once
#include <cstdint>

#include "core/CanGeneral.h"
#include "seeed/SeeedPacket.h"
#include "seeed/SeeedPacketParser.h"

// One settings-and-start packet as the simulated adapter understood it.
struct TSeeedSimSettings {
    int32_t Rate = 0;      // bit rate of the speed code; 0 for a code the adapter does not know
    uint8_t SpeedCode = 0; // the raw speed code byte
    uint8_t FrameType = 0; // raw byte: 0x01 standard, 0x02 extended
    bool Extended = false; // FrameType is 0x02
    uint8_t Mode = 0;      // working mode byte: 0x03 loopback, 0x00 normal
    uint32_t Time = 0;     // tick count when the packet's last byte arrived

    bool Loopback() const { return Mode == kSeeedModeLoopback; }
    bool Normal() const { return Mode == kSeeedModeNormal; }
};

// The bit rate of an adapter speed code (the inverse of SpeedCode); 0 when unknown.
int32_t RateOfSpeedCode(uint8_t code);

// The adapter's side of the link: finds the computer's 20-byte packets in its byte
// stream, the same way the computer finds the adapter's (a window of the last 20
// bytes tested after every byte, consumed when header and checksum match), and
// decodes both packet types the computer sends.
class TSeeedSimDecoder {
public:
    enum class TPacket { None, Settings, Frame, Other };

    void Reset() { Buffer.Clear(); }

    // Feeds one byte; says which kind of packet it completed, if any. After a
    // completed packet Window() holds its 20 bytes and Settings() or Frame()
    // its decoded contents, until the next completed packet.
    TPacket PutByte(uint8_t byte, uint32_t now);

    const uint8_t* Window() const { return Last; }
    const TSeeedSimSettings& Settings() const { return LastSettings; }
    const TCanFrame& Frame() const { return LastFrame; }

private:
    TSeeedPacketBuffer Buffer;
    uint8_t Last[kSeeedPacketSize] = {};
    TSeeedSimSettings LastSettings;
    TCanFrame LastFrame;
};
