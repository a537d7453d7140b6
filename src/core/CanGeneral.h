#pragma once
#include <cstdint>
#include <cstring>

// One classic CAN frame as the program holds it in memory. A new frame is all
// zero, which makes it an extended data frame: producers that mean a standard
// frame set Standard themselves.
struct TCanFrame {
    uint32_t Id = 0;       // identifier; never masked or checked here
    int32_t Length = 0;    // data length code; a received frame may carry up to 255
    uint8_t Data[8] = {};  // all eight bytes are always stored and sent
    bool Request = false;  // remote frame
    bool Standard = false; // 11-bit identifier when true, 29-bit when false
    uint32_t Time = 0;     // millisecond tick count when decoded or sent
    // UTC microseconds since the Unix epoch when received or sent (tcm::TFrameClock);
    // 0 for a frame nobody stamped.
    int64_t TimeUs = 0;

    // Copies every field, including Time and all eight data bytes.
    void Assign(const TCanFrame& source) { *this = source; }
};

// Number of data bytes that a consumer may walk: Length limited to 0..8.
inline int CanDataBytes(int32_t length)
{
    return length < 0 ? 0 : (length > 8 ? 8 : length);
}
