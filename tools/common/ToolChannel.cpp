#include "ToolChannel.h"

#include <algorithm>

#include "core/CanSettings.h"
#include "core/Logger.h"
#include "platform/SerialPort.h"
#include "platform/Tick.h"
#include "stats/ChannelStats.h"
#include "views/TarvenixTrace.h"

TToolChannel::TToolChannel(const std::string& port, int32_t rate, bool extended)
    : Adapter(TSeeedManagerOptions{std::string()}), Settings(Adapter.GetSettings(0))
{
    Adapter.Port = port;
    Settings->Rate = rate;
    Settings->Extended = extended;
    Adapter.GetTrace(0)->SetOnAdded(&FrameAdded);
    // FollowTrace lets go of every entry it passed: two blocks in memory take
    // turns while the tool keeps up.
    Adapter.GetTrace(0)->KeepBlocksInMemory(2);
}

void TToolChannel::WaitForFrames(int timeoutMs, int alsoFd)
{
    FrameAdded.Wait(timeoutMs, alsoFd);
}

void TToolChannel::SetWakeOnFrames(bool wake)
{
    Adapter.GetTrace(0)->SetOnAdded(wake ? &FrameAdded : nullptr);
}

bool TToolChannel::CheckPort(std::string& error)
{
    TSeeedManager& manager = Adapter.GetManager();
    if (!manager.OpenPort(Adapter.Port)) {
        error = ErrorText(manager.GetLastError()) + HintLine(manager.GetLastErrorNumber());
        return false;
    }
    manager.ClosePort();
    return true;
}

bool TToolChannel::Open(std::string& error)
{
    Adapter.GetTrace(0)->Clear(); // no worker runs while closed
    Followed = 0;
    if (!Adapter.Open(0)) {
        error = ErrorText(Adapter.LastError) + HintLine(Adapter.LastErrorNumber);
        return false;
    }
    return true;
}

int32_t TToolChannel::Close()
{
    if (!Adapter.IsOpen(0))
        return 0;
    // The engine drops what is still queued when it stops: a frame the client
    // was told is sent must reach the adapter first. A frame taken from the
    // queue is written before the sender thread ends.
    TSeeedManager& manager = Adapter.GetManager();
    // It waits for the queue to empty in short slices, so that a fault (after
    // which nothing more is written) ends the wait soon.
    const uint32_t started = tcm::TickCount();
    for (uint32_t waited = 0; manager.GetFault() == TChannelFault::None && waited < kDrainMs;
         waited = tcm::TickCount() - started) {
        if (manager.WaitQueueEmpty(std::min<uint32_t>(kFaultLookMs, kDrainMs - waited)))
            break;
    }
    const int32_t unsent = manager.QueuedFrames();
    Adapter.Close(0);
    return unsent;
}

bool TToolChannel::IsOpen() const
{
    return Adapter.IsOpen(0);
}

std::string TToolChannel::Failure() const
{
    if (!Adapter.IsOpen(0))
        return {};
    const std::string failure = Adapter.ChannelFailure(0);
    return failure.empty() ? Adapter.GetManager().GetTrace()->FullText() : failure;
}

bool TToolChannel::PortLost() const
{
    return Adapter.IsOpen(0) && Adapter.GetManager().IsPortLost();
}

void TToolChannel::SetRate(int32_t rate)
{
    Settings->Rate = rate;
}

int32_t TToolChannel::Rate() const
{
    return Settings->Rate;
}

bool TToolChannel::Extended() const
{
    return Settings->Extended;
}

bool TToolChannel::Send(const TCanFrame& frame)
{
    return Adapter.GetManager().QueueFrame(frame);
}

int32_t TToolChannel::QueuedFrames() const
{
    return Adapter.GetManager().QueuedFrames();
}

TCanSendList& TToolChannel::SendList()
{
    return *Adapter.GetSendList(0);
}

int32_t TToolChannel::FollowTrace(const TVisit& visit)
{
    TTarvenixTraceList& trace = *Adapter.GetTrace(0);
    const int64_t total = trace.Count();
    int32_t visited = 0;
    int64_t count = 0;
    bool more = true;
    // A lock per run of entries, not per entry.
    while (more && Followed < total) {
        const TTarvenixTraceItem* run = trace.ItemRun(Followed, count);
        for (int64_t i = 0; i < count && Followed < total; ++i) {
            if (!visit(trace, run[i])) {
                more = false;
                break;
            }
            ++Followed;
            ++visited;
        }
        if (!run)
            break;
    }
    trace.ReleaseBefore(Followed);
    return visited;
}

const TChannelStats& TToolChannel::Stats()
{
    return *Adapter.GetStats(0);
}

void TToolChannel::KeepTotalsOnly()
{
    Adapter.GetStats(0)->LimitIdentifiers(0);
}

void TToolChannel::DrainLog(std::FILE* out)
{
    TLogger& log = *Adapter.GetLogger(0);
    while (!log.IsEmpty()) {
        const std::string line = log.TakeFirst();
        if (out)
            std::fprintf(out, "%s\n", line.c_str());
    }
}

std::string TToolChannel::HintLine(int errorNumber)
{
    const std::string hint = tcm::PortAccessHint(errorNumber);
    return hint.empty() ? hint : "\n" + hint;
}

std::string TToolChannel::ErrorText(std::string text)
{
    for (char& c : text)
        if (c == '\r')
            c = '\n';
    return text;
}
