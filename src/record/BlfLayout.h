#pragma once
// Vector BLF layout, all little-endian: a 144-byte file header ("LOGG"), then objects, each
// starting with a 16-byte base header ("LOBJ", header size, header version, object size, type)
// and followed by object size % 4 padding bytes. LOG_CONTAINER objects hold further objects,
// stored or zlib-compressed; the frames are CAN_MESSAGE objects with a version 1 header
// (flags, client index, object version, 64-bit time since the file header's start time).
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "record/RecordWriter.h"

namespace tcm::recording {
std::unique_ptr<TRecordWriter> CreateBlfWriter(int fd, const std::string& name, const TRecordWriterOptions& options);
} // namespace tcm::recording

namespace tcm::recording::blf {

constexpr uint32_t kFileHeaderSize = 144;
constexpr uint32_t kBaseHeaderSize = 16;
constexpr uint32_t kHeaderV1Size = 16;
constexpr uint32_t kHeaderV2Size = 24;
constexpr uint32_t kContainerHeaderSize = 16; // compression method, reserved, uncompressed size, reserved
constexpr uint32_t kCanMessageSize = 16;      // channel, flags, dlc, id, eight data bytes
constexpr uint32_t kCanFdMessageSize = 84;    // ..., frame length, bit count, FD flags, valid bytes, 64 data bytes

constexpr uint32_t kTypeCanMessage = 1;
constexpr uint32_t kTypeCanError = 2;
constexpr uint32_t kTypeCanErrorExt = 73;
constexpr uint32_t kTypeCanFdError64 = 104;
constexpr uint32_t kTypeLogContainer = 10;
constexpr uint32_t kTypeCanMessage2 = 86;
constexpr uint32_t kTypeCanFdMessage = 100;
constexpr uint32_t kTypeCanFdMessage64 = 101;

constexpr uint16_t kCompressionNone = 0;
constexpr uint16_t kCompressionZlib = 2;

constexpr uint32_t kTimeTenMicros = 1;
constexpr uint32_t kTimeNanos = 2;

constexpr uint8_t kFlagTx = 0x01;
constexpr uint8_t kFlagRemote = 0x80;
constexpr uint32_t kIdExtended = 0x80000000;
constexpr uint8_t kFdFlagEdl = 0x01;

// File header fields.
constexpr size_t kOffFileSize = 16;
constexpr size_t kOffUncompressedSize = 24;
constexpr size_t kOffObjectCount = 32;
constexpr size_t kOffStartTime = 40; // SYSTEMTIME: year, month, day of week, day, hour, minute, second, ms
constexpr size_t kOffStopTime = 56;

inline void Put16(unsigned char* p, uint16_t v)
{
    std::memcpy(p, &v, 2);
}
inline void Put32(unsigned char* p, uint32_t v)
{
    std::memcpy(p, &v, 4);
}
inline void Put64(unsigned char* p, uint64_t v)
{
    std::memcpy(p, &v, 8);
}
inline uint16_t Get16(const unsigned char* p)
{
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}
inline uint32_t Get32(const unsigned char* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline uint64_t Get64(const unsigned char* p)
{
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

// SYSTEMTIME of a UTC millisecond time, in local time as Vector's tools and readers take it;
// and back (0 when the fields are no plausible date).
void PutSystemTime(unsigned char* p, int64_t unixMs);
int64_t SystemTimeToUnixMs(const unsigned char* p);

} // namespace tcm::recording::blf
