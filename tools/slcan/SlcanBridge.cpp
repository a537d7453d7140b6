#include "SlcanBridge.h"

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
    Session.OnSend = [this](const TCanFrame& frame) { return Channel.Send(frame); };
}

TSlcanBridge::~TSlcanBridge()
{
    Finish();
}

bool TSlcanBridge::Start(std::string& error)
{
    if (!Channel.CheckPort(error))
        return false;
    if (!Terminal.Open()) {
        error = "Cannot create a pseudo-terminal: " + Terminal.LastError();
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
        // Waits at most a millisecond for the client, which paces the loop.
        const int n = Terminal.Read(input, sizeof input, 1);
        if (n > 0)
            Session.Feed(input, static_cast<size_t>(n), Pending);
        else if (n < 0)
            tcm::SleepMs(1); // a failing terminal must not spin the loop
        PassFrames();
        if (const std::string failure = Channel.Failure(); !failure.empty()) {
            std::fprintf(stderr, "tarvenix-slcan: %s\n", failure.c_str());
            PassFrames();
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
    return true;
}

void TSlcanBridge::CloseChannel()
{
    // Frames that arrived before the close still reach the client, ahead of
    // the close command's answer.
    CloseAndReport();
    PassFrames();
}

void TSlcanBridge::CloseAndReport()
{
    if (const int32_t unsent = Channel.Close())
        std::fprintf(stderr, "tarvenix-slcan: %d queued frames were not sent: the adapter did not take them in time\n",
                     unsent);
}

void TSlcanBridge::PassFrames()
{
    Channel.FollowTrace([this](const TTarvenixTraceList& trace, const TTarvenixTraceItem& item) {
        const TRecordFrame record = MakeRecordFrame(trace, item);
        if (FrameLog)
            FrameLog->Write(record);
        if (item.Outgoing) {
            ++Count.FramesOut;
        } else if (Pending.size() - PendingStart >= kMaxPending) {
            ++Count.Dropped;
            Session.NoteOverrun();
        } else if (Session.FrameReceived(record.Frame, Pending)) {
            ++Count.FramesIn;
        } else {
            ++Count.Dropped;
        }
        return true;
    });
}

void TSlcanBridge::Flush()
{
    while (PendingStart < Pending.size()) {
        const size_t left = Pending.size() - PendingStart;
        const int n = Terminal.WriteSome(reinterpret_cast<const uint8_t*>(Pending.data() + PendingStart),
                                         static_cast<int>(left < 65536 ? left : 65536));
        if (n <= 0)
            break; // full (or failing): the rest waits for the next round
        PendingStart += static_cast<size_t>(n);
    }
    if (PendingStart == Pending.size()) {
        Pending.clear();
        PendingStart = 0;
    } else if (PendingStart > (1u << 20) && PendingStart * 2 > Pending.size()) {
        Pending.erase(0, PendingStart);
        PendingStart = 0;
    }
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

void TSlcanBridge::ReportDrops(bool final)
{
    const uint32_t now = tcm::TickCount();
    if (Count.Dropped == DropsReported || (!final && now - LastDropReport < 1000))
        return;
    std::fprintf(stderr, "tarvenix-slcan: %llu received frames dropped so far: the client does not read the terminal\n",
                 static_cast<unsigned long long>(Count.Dropped));
    DropsReported = Count.Dropped;
    LastDropReport = now;
}

void TSlcanBridge::Finish()
{
    if (Channel.IsOpen()) {
        CloseAndReport();
        PassFrames();
        Flush();
    }
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
