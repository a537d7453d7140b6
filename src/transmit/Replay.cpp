#include "transmit/Replay.h"

#include "platform/ThreadBase.h"
#include "record/RecordReader.h"

TReplay::TReplay(std::string path, long loops, std::function<void(const TCanFrame&)> send,
                 std::function<void(const std::string&)> report)
    : Path(std::move(path)), LoopCount(loops), Send(std::move(send)), Report(std::move(report))
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
        StopAsked = true;
    }
    Wake.notify_all();
    if (Thread.joinable())
        Thread.join();
}

bool TReplay::WaitUntil(std::chrono::steady_clock::time_point due)
{
    tcm::TMutexLock guard(Lock);
    return !Wake.wait_until(guard, due, [this]() TCM_REQUIRES(Lock) { return StopAsked; });
}

bool TReplay::Stopping()
{
    tcm::TMutexLock guard(Lock);
    return StopAsked;
}

void TReplay::Run()
{
    using TClock = std::chrono::steady_clock;
    if (CountFirst) {
        std::string error;
        if (auto reader = OpenRecordReader(Path, error)) {
            reader->Channel = Channel;
            TRecordFrame frame;
            int64_t count = 0;
            while (reader->Next(frame))
                if (++count % 4096 == 0 && Stopping()) {
                    Finished.store(true);
                    return;
                }
            FramesPerPass.store(count);
        }
    }
    // As the engine's own threads: the gaps should not wait for a busy machine.
    tcm::TThreadBase::RaiseCurrentThreadPriority();
    for (long pass = 0; LoopCount == 0 || pass < LoopCount; ++pass) {
        std::string error;
        auto reader = OpenRecordReader(Path, error);
        if (!reader) {
            Report(error);
            break;
        }
        reader->OnError = Report;
        reader->Channel = Channel;
        SentThisPass.store(0);
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
            if (Stopping())
                break;
            Send(frame.Frame);
            Sent.fetch_add(1);
            SentThisPass.fetch_add(1);
        }
        // What the file left out is told once, after the first pass.
        if (const std::string leftOut = reader->LeftOut(); pass == 0 && !leftOut.empty())
            Report(leftOut);
        // A file without a single frame would make an endless loop spin.
        if (Stopping() || !any)
            break;
        Passes.store(pass + 1);
    }
    Finished.store(true);
}
