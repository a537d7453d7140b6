#include "app/TraceFiles.h"

#include <algorithm>
#include <exception>

#include "record/RecordReader.h"
#include "record/RecordWriter.h"
#include "stats/ChannelStats.h"
#include "views/TarvenixTable.h"
#include "views/TarvenixTrace.h"
#include "views/TraceIndex.h"

namespace {

// How many entries pass between two looks at the cancel flag and two progress updates.
constexpr int32_t kProgressStep = 4096;

} // namespace

bool ExportTrace(const TTarvenixTraceList& trace, int32_t first, int32_t last, TRecordFormat format,
                 const std::string& path, TFileJobControl& control, std::string& error, const TTraceIndex* rows)
{
    tcm::TOutputFile file;
    if (!file.OpenReplacing(path, error))
        return false;
    try {
        const auto writer = CreateRecordWriter(format, file.Fd(), path);
        for (int32_t index = first; index <= last; ++index) {
            if ((index - first) % kProgressStep == 0) {
                control.Done.store(index - first, std::memory_order_relaxed);
                if (control.Cancel.load(std::memory_order_relaxed)) {
                    file.Discard();
                    error.clear();
                    return false;
                }
            }
            const TTarvenixTraceItem* item = trace.Item(rows ? static_cast<int32_t>(rows->EntryOf(index)) : index);
            if (!item) {
                file.Discard();
                error = "Unable to write " + path + ": the trace was cleared while it was being saved";
                return false;
            }
            writer->Write(MakeRecordFrame(trace, *item));
        }
        writer->Finish();
    } catch (const std::exception& e) {
        file.Discard();
        error = e.what();
        return false;
    }
    if (!file.Close(error)) {
        file.Discard();
        return false;
    }
    control.Done.store(last - first + 1);
    return true;
}

namespace {

// Reports the reader's malformed parts into `errors` while it lives.
class TErrorCollector {
public:
    TErrorCollector(TRecordReader& reader, TLoadErrors& errors) : Reader(reader)
    {
        reader.OnError = [&errors](const std::string& message) {
            ++errors.Count;
            if (errors.Texts.size() < errors.Max)
                errors.Texts.push_back(message);
        };
    }
    ~TErrorCollector() { Reader.OnError = nullptr; }
    TErrorCollector(const TErrorCollector&) = delete;
    TErrorCollector& operator=(const TErrorCollector&) = delete;

private:
    TRecordReader& Reader;
};

} // namespace

bool ReadFirstFrame(TRecordReader& reader, TRecordFrame& first, TFileJobControl& control, TLoadErrors& errors)
{
    const TErrorCollector collect(reader, errors);
    return !control.Cancel.load() && reader.Next(first);
}

void LoadRecording(TRecordReader& reader, const TRecordFrame& first, TTarvenixTraceList& trace, TTarvenixTable& table,
                   TFileJobControl& control, TLoadErrors& errors, TStatsAccumulator* stats)
{
    const TErrorCollector collect(reader, errors);
    // Entries keep the recording's own times: the reference is the first
    // frame's tick at its wall-clock millisecond.
    trace.SetWallReference(first.Frame.Time, first.WallUs - ((first.WallUs % 1000) + 1000) % 1000);
    TRecordFrame record = first;
    int64_t loaded = 0;
    int64_t lastUs = first.WallUs;
    if (stats)
        stats->Start(0, first.WallUs);
    do {
        record.Frame.TimeUs = record.WallUs;
        trace.AddFrame(record.Frame, record.Outgoing);
        if (stats) {
            stats->Add(record.Frame, record.Outgoing, record.WallUs);
            lastUs = std::max(lastUs, record.WallUs);
        }
        // The receive table holds what came in, as while a channel runs.
        if (!record.Outgoing)
            table.AddFrame(record.Frame);
        if (++loaded % kProgressStep == 0) {
            control.Done.store(loaded, std::memory_order_relaxed);
            if (control.Cancel.load(std::memory_order_relaxed))
                break;
        }
    } while (reader.Next(record));
    control.Done.store(loaded);
    if (stats)
        stats->Stop(lastUs);
}

TTraceRecorder::TTraceRecorder(const TTarvenixTraceList& trace) : Trace(trace) {}

TTraceRecorder::~TTraceRecorder()
{
    // Without Stop() the trace may be gone already: only what was collected is written.
    if (Thread.joinable()) {
        {
            tcm::TMutexLock guard(Lock);
            Stopping = true;
        }
        Wake.notify_one();
        Thread.join();
    }
}

std::unique_ptr<TTraceRecorder> TTraceRecorder::Start(const std::string& path, TRecordFormat format,
                                                      const TTarvenixTraceList& trace, std::string& error)
{
    std::unique_ptr<TTraceRecorder> recorder(new TTraceRecorder(trace));
    if (!recorder->File.Open(path, error))
        return nullptr;
    try {
        recorder->Writer = CreateRecordWriter(format, recorder->File.Fd(), path);
    } catch (const std::exception& e) {
        error = e.what();
        recorder->File.Discard();
        return nullptr;
    }
    recorder->Next = trace.Count();
    recorder->Thread = std::thread([r = recorder.get()] { r->WriterLoop(); });
    return recorder;
}

void TTraceRecorder::CollectFrom(const TTarvenixTraceList& trace)
{
    const int64_t total = trace.Count();
    if (total <= Next)
        return;
    std::vector<TRecordFrame> batch;
    batch.reserve(static_cast<size_t>(total - Next));
    for (; Next < total; ++Next)
        if (const TTarvenixTraceItem* item = trace.Item(Next))
            batch.push_back(MakeRecordFrame(trace, *item));
    {
        tcm::TMutexLock guard(Lock);
        if (WriterDone)
            return; // failed: nothing more is written
        Batches.push_back(std::move(batch));
    }
    Wake.notify_one();
}

void TTraceRecorder::TraceCleared(const TTarvenixTraceList& trace, const TTarvenixTraceList& removed)
{
    if (&trace != &Trace)
        return; // another channel's trace
    CollectFrom(removed);
    Next = 0;
}

void TTraceRecorder::WriterLoop()
{
    tcm::TMutexLock guard(Lock);
    for (;;) {
        Wake.wait(guard, [this]() TCM_REQUIRES(Lock) { return Stopping || !Batches.empty(); });
        const bool last = Stopping;
        std::deque<std::vector<TRecordFrame>> work;
        work.swap(Batches);
        guard.unlock();
        std::string failure;
        try {
            for (const auto& batch : work) {
                for (const auto& frame : batch)
                    Writer->Write(frame);
                Written.fetch_add(batch.size());
            }
            // Every batch reaches the file at once, so a recording cut short
            // (a crash, a pulled cable) holds all but the last moments.
            if (last)
                Writer->Finish();
            else
                Writer->Flush();
        } catch (const std::exception& e) {
            failure = e.what();
        }
        guard.lock();
        if (!failure.empty()) {
            Error = failure;
            Batches.clear();
        }
        if (last || !failure.empty()) {
            WriterDone = true;
            return;
        }
    }
}

bool TTraceRecorder::Stop(std::string& error)
{
    if (!Thread.joinable())
        return !Failed(error);
    Collect();
    {
        tcm::TMutexLock guard(Lock);
        Stopping = true;
    }
    Wake.notify_one();
    Thread.join();
    std::string closeError;
    const bool closed = File.Close(closeError);
    tcm::TMutexLock guard(Lock);
    if (Error.empty() && !closed)
        Error = closeError;
    if (!Error.empty()) {
        error = Error;
        return false;
    }
    return true;
}

bool TTraceRecorder::Failed(std::string& error) const
{
    tcm::TMutexLock guard(Lock);
    if (Error.empty())
        return false;
    error = Error;
    return true;
}
