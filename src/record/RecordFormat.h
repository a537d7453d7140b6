#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/CanGeneral.h"

class TTarvenixTraceList;
class TTarvenixTraceItem;
class TRecordReader;
class TRecordWriter;
struct TRecordWriterOptions;

// Every file format a capture can be written in or read from. Each one is a file of
// src/record that defines its table entry, tcm::recording::kFormat<Name>; a new format
// is that file plus its name here.
#define TCM_RECORD_FORMATS(X) X(Trace) X(Candump) X(Asc) X(Blf) X(Pcap) X(Trc)

enum class TRecordFormat {
#define TCM_RECORD_FORMAT_ENUM(name) name,
    TCM_RECORD_FORMATS(TCM_RECORD_FORMAT_ENUM)
#undef TCM_RECORD_FORMAT_ENUM
};

// One format's entry in the table.
struct TRecordFormatEntry {
    TRecordFormat Format;
    const char* Name;        // as tools take it: "candump"
    const char* Description; // as dialogs and messages show it: "candump log"
    const char* Extensions;  // space-separated; a saved file takes the first: ".pcap .pcapng"
    // The file's first bytes (up to 512) show this format; null: known by extension only.
    bool (*Sniff)(std::string_view head);
    // A reader over fd (closed with it when `owned`); null for a format that is not read back.
    std::unique_ptr<TRecordReader> (*Reader)(int fd, bool owned, const std::string& name);
    std::unique_ptr<TRecordWriter> (*Writer)(int fd, const std::string& name, const TRecordWriterOptions& options);
};

// The table, in the order of TCM_RECORD_FORMATS.
std::span<const TRecordFormatEntry* const> RecordFormats();
const TRecordFormatEntry& RecordFormatEntry(TRecordFormat format);

std::optional<TRecordFormat> RecordFormatFromName(std::string_view name);
// By extension, case-insensitive: any of a format's extensions, or (`saving`) the first only.
std::optional<TRecordFormat> RecordFormatFromPath(std::string_view path, bool saving = false);
const char* RecordFormatName(TRecordFormat format);

// Texts made from the table, for help and messages; `readable`: only the formats read back.
// "trace, candump, asc, blf, pcap or trc"
std::string RecordFormatNames(bool readable);
// "candump log, Vector ASC, Vector BLF, pcap or PEAK TRC"
std::string RecordFormatDescriptions(bool readable);
// ".log, .asc, .blf, .pcap, .trc or .txt": the extension each saved format takes.
std::string RecordSaveExtensions();
// File dialog filters: one per writable format ("candump log (*.log)"), and for opening one
// of all readable extensions first ("Recordings (*.log *.asc ...)").
std::string RecordSaveFilters();
std::string RecordOpenFilters();

// One frame as the recording formats carry it.
struct TRecordFrame {
    TCanFrame Frame;       // Frame.Time is the millisecond tick (the Trace format prints it)
    bool Outgoing = false; // sent by us (ASC "Tx", BLF direction); candump and pcap carry no direction
    int64_t WallUs = 0;    // UTC microseconds since the Unix epoch
    int Channel = 1;       // the recording's channel (bus) number, 1 when it has none
};

// A trace entry as a record frame (its wall-clock time from the trace's reference).
TRecordFrame MakeRecordFrame(const TTarvenixTraceList& trace, const TTarvenixTraceItem& item);
