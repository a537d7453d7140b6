#pragma once
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/Mutex.h"
#include "platform/OutputFile.h"
#include "record/RecordFormat.h"

class TRecordReader;
class TRecordWriter;
class TTarvenixTable;
class TTarvenixTraceList;
class TTraceIndex;
class TStatsAccumulator;

// Progress of a long file job, shared between the thread doing it and the
// window: `Done` counts entries or frames, `Cancel` asks the job to stop.
struct TFileJobControl {
    std::atomic<int64_t> Done{0};
    std::atomic<bool> Cancel{false};
};

// Writes trace entries `first` to `last` (both included) into the file `path`
// in `format`. Entries are read through the trace's lock one at a time, so
// the channel keeps appending meanwhile; the caller makes sure the trace is
// not cleared while this runs. The file is written beside `path` and takes its
// place only when complete. False with `error` naming the file and the reason
// when it fails; on failure or cancel the partial file is removed and a file
// that was there before stays as it was.
// With `rows`, `first` and `last` count the entries that pass its filter.
bool ExportTrace(const TTarvenixTraceList& trace, int32_t first, int32_t last, TRecordFormat format,
                 const std::string& path, TFileJobControl& control, std::string& error,
                 const TTraceIndex* rows = nullptr);

// Malformed parts of a recording met while reading it: the first `Max`
// texts, and how many there were in all.
struct TLoadErrors {
    std::vector<std::string> Texts;
    int64_t Count = 0;
    size_t Max = 10;
};

// Reads `reader` up to its first frame, into `first`; malformed parts on the
// way go to `errors`. False when the file holds no frame at all (or the user
// cancelled), so the caller can leave its trace as it is.
bool ReadFirstFrame(TRecordReader& reader, TRecordFrame& first, TFileJobControl& control, TLoadErrors& errors);

// Reads a recording into a trace and a receive table as if its frames had
// been received, starting with `first` (from ReadFirstFrame): every frame is
// appended to the trace in file order with its direction and recorded time,
// and every incoming one is applied to the table with its recorded time as the
// tick. Malformed parts of the file are added to `errors`. `stats`, when
// given, gets the recording's statistics from its own times: the run starts at
// its first frame and ends at its last (the bit rate is left at 0 for the
// caller to set).
void LoadRecording(TRecordReader& reader, const TRecordFrame& first, TTarvenixTraceList& trace, TTarvenixTable& table,
                   TFileJobControl& control, TLoadErrors& errors, TStatsAccumulator* stats = nullptr);

// Streams the new entries of a trace into a file while the channel runs. The
// window thread (the only thread that clears the trace) copies entries not yet
// taken with Collect(); a writer thread of the recorder formats and writes
// them, so neither the reading thread nor the window waits for the disk. A
// write error stops the writer; Failed() then holds the text.
class TTraceRecorder {
public:
    ~TTraceRecorder();
    TTraceRecorder(const TTraceRecorder&) = delete;
    TTraceRecorder& operator=(const TTraceRecorder&) = delete;

    // Opens `path` and starts recording with the entries that come after the
    // trace's current last one. None with `error` when the file cannot be made.
    static std::unique_ptr<TTraceRecorder> Start(const std::string& path, TRecordFormat format,
                                                 const TTarvenixTraceList& trace, std::string& error);

    // Hands the entries added since the last call to the writer thread.
    void Collect() { CollectFrom(Trace); }
    // `trace` was cleared and `removed` holds its former entries: when it is
    // the recorded trace, takes those not yet written, then goes on with entry 0.
    void TraceCleared(const TTarvenixTraceList& trace, const TTarvenixTraceList& removed);
    // Takes what is left, writes the format's ending and closes the file.
    // False with `error` when writing failed now or earlier.
    bool Stop(std::string& error) TCM_EXCLUDES(Lock);

    // The writer failed; `error` gets its text.
    bool Failed(std::string& error) const TCM_EXCLUDES(Lock);
    uint64_t FramesWritten() const { return Written.load(); }
    const std::string& Path() const { return File.Path(); }

private:
    explicit TTraceRecorder(const TTarvenixTraceList& trace);
    void CollectFrom(const TTarvenixTraceList& trace);
    void WriterLoop() TCM_EXCLUDES(Lock);

    const TTarvenixTraceList& Trace;
    int64_t Next = 0; // window thread only
    tcm::TOutputFile File;
    std::unique_ptr<TRecordWriter> Writer;
    std::thread Thread;

    mutable tcm::TMutex Lock;
    tcm::TCondition Wake;
    std::deque<std::vector<TRecordFrame>> Batches TCM_GUARDED_BY(Lock);
    bool Stopping TCM_GUARDED_BY(Lock) = false;
    bool WriterDone TCM_GUARDED_BY(Lock) = false;
    std::string Error TCM_GUARDED_BY(Lock);
    std::atomic<uint64_t> Written{0};
};
