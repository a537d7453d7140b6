#pragma once
// The SocketCAN frame of pcap and pcapng captures (link type 227), shared by both readers.
#include <cstdint>
#include <string>

#include "record/RecordReader.h"

namespace tcm::recording {

constexpr uint32_t kLinkSocketCan = 227;
// Largest record a SocketCAN capture holds (a CAN XL frame); a larger one is damage.
constexpr uint32_t kMaxSocketCanRecord = 2060;

// A captured SocketCAN frame as a record frame (all but the time and channel). False for anything
// else: a CAN FD or error frame is counted in `dropped`, damage is told in `what`.
bool DecodeSocketCan(const unsigned char* p, uint32_t size, TRecordFrame& out, std::string& what,
                     TLeftOutCounts& dropped);

class TFdInput;

// pcapng after its first four bytes (the section header block type) were read from `in`.
// Reports damage through `report(offset, what)`.
class TPcapNgParser {
public:
    using TReport = void (*)(void* context, uint64_t offset, const std::string& what);
    TPcapNgParser(TFdInput& in, TReport report, void* context, TLeftOutCounts& dropped);
    ~TPcapNgParser();
    bool Next(TRecordFrame& out);

private:
    struct TState;
    TState* State;
};

} // namespace tcm::recording
