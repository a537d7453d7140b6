#include "Replay.h"

#include "platform/ThreadBase.h"
#include "record/RecordReader.h"

TReplay::TReplay(std::string path, long loops, std::function<void(const TCanFrame&)> send,
                 std::function<void(const std::string&)> report)
    : Path(std::move(path)), Loops(loops), Send(std::move(send)), Report(std::move(report))
{
}

TReplay::~TReplay()
{
    Stop();
}

bool TReplay::CanOpen(const std::string& path, std::string& error)
{
    return OpenRecordReader(path, error) != nullptr;
}

void TReplay::Start()
{
    Thread = std::thread([this] { Run(); });
}

void TReplay::Stop()
{
    {
        tcm::TMutexLock guard(Lock);
        Stopping = true;
    }
    Wake.notify_all();
    if (Thread.joinable())
        Thread.join();
}

bool TReplay::WaitUntil(std::chrono::steady_clock::time_point due)
{
    tcm::TMutexLock guard(Lock);
    return !Wake.wait_until(guard, due, [this]() TCM_REQUIRES(Lock) { return Stopping; });
}

void TReplay::Run()
{
    using TClock = std::chrono::steady_clock;
    // As the engine's own threads: the gaps should not wait for a busy machine.
    tcm::TThreadBase::RaiseCurrentThreadPriority();
    for (long pass = 0; Loops == 0 || pass < Loops; ++pass) {
        std::string error;
        auto reader = OpenRecordReader(Path, error);
        if (!reader) {
            Report(error);
            break;
        }
        reader->OnError = Report;
        reader->Channel = Channel;
        TRecordFrame frame;
        bool first = true;
        int64_t firstUs = 0;
        TClock::time_point start;
        bool any = false;
        while (reader->Next(frame)) {
            any = true;
            if (first) {
                first = false;
                firstUs = frame.WallUs;
                start = TClock::now();
            } else if (frame.WallUs > firstUs &&
                       !WaitUntil(start + std::chrono::microseconds(frame.WallUs - firstUs))) {
                Finished.store(true);
                return;
            }
            {
                tcm::TMutexLock guard(Lock);
                if (Stopping)
                    break;
            }
            Send(frame.Frame);
            Sent.fetch_add(1);
        }
        // What the file left out is told once, after the first pass.
        if (const std::string leftOut = reader->LeftOut(); pass == 0 && !leftOut.empty())
            Report(leftOut);
        tcm::TMutexLock guard(Lock);
        // A file without a single frame would make an endless loop spin.
        if (Stopping || !any)
            break;
    }
    Finished.store(true);
}
