#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

#include "core/CanGeneral.h"

class TTarvenixTraceList;
class TTarvenixTraceItem;

// The file formats a capture can be written in (and, except Trace, read back from).
enum class TRecordFormat { Trace, Candump, Asc, Blf, Pcap };

// "trace" "candump" "asc" "blf" "pcap"
std::optional<TRecordFormat> RecordFormatFromName(std::string_view name);
// By extension, case-insensitive: .txt .log .asc .blf .pcap
std::optional<TRecordFormat> RecordFormatFromPath(std::string_view path);
const char* RecordFormatName(TRecordFormat format);

// One frame as the recording formats carry it.
struct TRecordFrame {
    TCanFrame Frame;       // Frame.Time is the millisecond tick (the Trace format prints it)
    bool Outgoing = false; // sent by us (ASC "Tx", BLF direction); candump and pcap carry no direction
    int64_t WallUs = 0;    // UTC microseconds since the Unix epoch
};

// A trace entry as a record frame (its wall-clock time from the trace's reference).
TRecordFrame MakeRecordFrame(const TTarvenixTraceList& trace, const TTarvenixTraceItem& item);
