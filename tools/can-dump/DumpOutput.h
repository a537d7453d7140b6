#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "DumpOptions.h"
#include "platform/OutputFile.h"
#include "record/RecordIo.h"
#include "record/RecordWriter.h"

class TToolChannel;
class TTarvenixTraceItem;

// Writes the trace entries of the running channel in the chosen format as they
// arrive. Each entry is read once and released after use (the channel's
// FollowTrace), so the monitor keeps no capture in memory however long it runs. Write failures raise
// std::system_error naming the file and the reason.
class TDumpOutput {
public:
    // Opens the output; false with `error` set when the file cannot be created.
    bool Open(const TDumpRecordingOptions& options, std::string& error);

    // Writes the entries added since the last call that pass the filters.
    // `frameLimit` > 0: stops after that many received frames have been written
    // and returns true.
    bool Consume(TToolChannel& channel, long frameLimit);
    // Writes one frame when it passes the filters (`item` is its trace entry, for the trace
    // lines); true when it was the received frame that reached `frameLimit`.
    bool Put(const TRecordFrame& frame, const TTarvenixTraceItem& item, long frameLimit);
    void Flush();
    // Trailer (ASC end line, BLF counts), flush, and close of the file.
    void Finish();

    // Every entry that passes the filters, whatever the format (the --csv rows).
    std::function<void(const TRecordFrame& frame)> AlsoTo;

    // In the trace format: more lines after an entry's line (the --dbc signals).
    std::function<void(const TTarvenixTraceItem& item, std::string& out)> ExtraLines;

    long FramesIn = 0;  // received entries seen, filtered or not
    long FramesOut = 0; // sent entries seen, filtered or not
    long Written = 0;   // entries written
    long WrittenIn = 0; // received entries written

private:
    TFrameFilterSet Filters;
    tcm::TOutputFile File;
    std::unique_ptr<TRecordWriter> Writer;           // every format but trace
    std::unique_ptr<tcm::recording::TFdOutput> Text; // the trace lines
};
