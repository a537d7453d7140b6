#include "SlcanBridge.h"

#include <algorithm>
#include <cstdio>
#include <system_error>

#include "platform/SymLink.h"
#include "platform/Tick.h"
#include "record/RecordFormat.h"
#include "views/TarvenixTrace.h"

TSlcanBridge::TSlcanBridge(const TSlcanOptions& options)
    : Options(options), Channel(options.Channel.Port, options.Channel.Rate, options.Channel.Extended),
      Session(options.Channel.Rate)
{
    Session.OnOpen = [this](int32_t rate) { return OpenChannel(rate); };
    Session.OnClose = [this] { CloseChannel(); };
    Session.OnSend = [this](const TCanFrame& frame) { return Send(frame); };
    Session.OutputRoom = [this] { return kMaxPending - std::min(kMaxPending, Pending.Unwritten()); };
    // The loop looks at the trace on its own clock: no wake-up per frame.
    Channel.SetWakeOnFrames(false);
    // Nothing here shows per-identifier figures, and a client picks the
    // identifiers of the frames it sends.
    Channel.KeepTotalsOnly();
}

TSlcanBridge::~TSlcanBridge()
{
    Finish();
}

bool TSlcanBridge::Start(std::string& error)
{
    if (!Channel.CheckPort(error))
        return false;
    if (!Terminal.Open() || !Terminal.GuardClient()) {
        error = "Cannot create a pseudo-terminal: " + Terminal.LastError();
        Terminal.Close();
        return false;
    }
    if (Options.Format || Options.Verbose)
        FrameLog = CreateRecordWriter(Options.Format.value_or(TRecordFormat::Trace), fileno(stderr), "standard error");
    if (!Options.Link.empty()) {
        if (!tcm::PlaceSymlink(Options.Link, Terminal.SlavePath(), error)) {
            Terminal.Close();
            return false;
        }
        LinkTarget = Terminal.SlavePath();
    }
    return true;
}

void TSlcanBridge::Run(const std::function<bool()>& stop)
{
    uint8_t input[4096];
    while (!stop()) {
        // Waits at most 3 ms for the client, which paces the loop: frames reach
        // the client within that, and the loop wakes about 333 times a second.
        const int n = Terminal.Read(input, sizeof input, 3);
        if (n > 0)
            Session.Feed(input, static_cast<size_t>(n), Pending.Text());
        else if (n < 0)
            tcm::SleepMs(1); // a failing terminal must not spin the loop
        PassFrames();
        if (const std::string failure = Channel.Failure(); !failure.empty()) {
            std::fprintf(stderr, "tarvenix-slcan: %s\n", failure.c_str());
            CloseAndReport();
            Session.ChannelLost();
        }
        Flush();
        FlushFrameLog();
        Channel.DrainLog(Options.Verbose ? stderr : nullptr);
        ReportDrops(false);
    }
    Finish();
}

bool TSlcanBridge::OpenChannel(int32_t rate)
{
    Channel.SetRate(rate);
    std::string error;
    if (!Channel.Open(error)) {
        Channel.DrainLog(Options.Verbose ? stderr : nullptr);
        std::fprintf(stderr, "tarvenix-slcan: %s\n", error.c_str());
        return false;
    }
    Acknowledged = 0;
    SentSinceOpen = 0;
    return true;
}

bool TSlcanBridge::Send(const TCanFrame& frame)
{
    // A client that sends faster than the link carries is told so at once
    // instead of filling memory with frames that would go out much later.
    if (Channel.QueuedFrames() >= kMaxQueued || !Channel.Send(frame))
        return false;
    ++Acknowledged;
    return true;
}

void TSlcanBridge::CloseChannel()
{
    // Frames that arrived before the close still reach the client, ahead of
    // the close command's answer.
    CloseAndReport();
}

void TSlcanBridge::CloseAndReport()
{
    Channel.Close();
    // Every frame that went out is in the trace once the channel is closed:
    // the ones answered z or Z and not there never reached the adapter, be
    // they still queued or lost to a failed write.
    PassFrames();
    if (Acknowledged <= SentSinceOpen)
        return;
    const uint64_t unsent = Acknowledged - SentSinceOpen;
    Count.Unsent += unsent;
    Acknowledged = SentSinceOpen = 0;
    Session.NoteUnsent();
    std::fprintf(stderr, "tarvenix-slcan: %llu queued frames were not sent: the adapter did not take them in time\n",
                 static_cast<unsigned long long>(unsent));
}

void TSlcanBridge::PassFrames()
{
    Channel.FollowTrace([this](const TTarvenixTraceList& trace, const TTarvenixTraceItem& item) {
        const TRecordFrame record = MakeRecordFrame(trace, item);
        if (FrameLog)
            FrameLog->Write(record);
        if (item.Outgoing) {
            ++Count.FramesOut;
            ++SentSinceOpen;
        } else if (Session.FrameReceived(record.Frame, Pending.Text())) {
            ++Count.FramesIn;
        } else {
            ++Count.Dropped;
        }
        return true;
    });
}

void TSlcanBridge::Flush()
{
    const uint64_t framesBefore = Pending.FramesDropped();
    Pending.Bound();
    if (Pending.FramesDropped() != framesBefore)
        Session.NoteOverrun();
    Pending.Flush([this](const char* data, size_t size) {
        return Terminal.WriteSome(reinterpret_cast<const uint8_t*>(data),
                                  static_cast<int>(size < 65536 ? size : 65536));
    });
}

void TSlcanBridge::FlushFrameLog()
{
    if (!FrameLog)
        return;
    try {
        FrameLog->Flush();
    } catch (const std::system_error&) {
        FrameLog.reset(); // standard error is gone: the bridge carries on without it
    }
}

TSlcanBridge::TCounts TSlcanBridge::Counts() const
{
    // Frame lines dropped from the client's output, and frames held for
    // polling that the client never took, were counted as passed on.
    TCounts counts = Count;
    const uint64_t lost = Pending.FramesDropped() + Session.HeldFramesLetGo();
    counts.FramesIn -= lost;
    counts.Dropped += lost;
    counts.AnswersDropped = Pending.AnswersDropped();
    return counts;
}

void TSlcanBridge::ReportDrops(bool final)
{
    const uint32_t now = tcm::TickCount();
    const TCounts counts = Counts();
    const uint64_t dropped = counts.Dropped + counts.AnswersDropped;
    if (dropped == DropsReported || (!final && now - LastDropReport < 1000))
        return;
    std::fprintf(stderr,
                 "tarvenix-slcan: %llu received frames and %llu answers dropped so far: the client does not read the "
                 "terminal\n",
                 static_cast<unsigned long long>(counts.Dropped),
                 static_cast<unsigned long long>(counts.AnswersDropped));
    DropsReported = dropped;
    LastDropReport = now;
}

void TSlcanBridge::Finish()
{
    if (Channel.IsOpen()) {
        CloseAndReport();
        Flush();
    }
    // What the client never got goes nowhere now, and is counted: the frames
    // still held for polling and the lines not yet written to the terminal.
    Session.ChannelLost();
    Flush();
    Pending.DropUnwritten();
    if (FrameLog) {
        FlushFrameLog();
        try {
            if (FrameLog)
                FrameLog->Finish();
        } catch (const std::system_error&) {
        }
        FrameLog.reset();
    }
    Channel.DrainLog(Options.Verbose ? stderr : nullptr);
    ReportDrops(true);
    if (!LinkTarget.empty()) {
        tcm::RemoveSymlinkTo(Options.Link, LinkTarget);
        LinkTarget.clear();
    }
    Terminal.Close();
}
