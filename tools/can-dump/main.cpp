// tarvenix-can-dump: the headless monitor. Opens one Seeed adapter through the
// same engine as the window and prints every trace entry as its trace line, or
// records it in another format; optionally replays a recording onto the bus.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "DbcSignalLines.h"
#include "DumpCsv.h"
#include "DumpOptions.h"
#include "DumpOutput.h"
#include "DumpStats.h"
#include "InputRun.h"
#include "SignalFrames.h"
#include "ToolChannel.h"
#include "ToolOptions.h"
#include "core/CanText.h"
#include "platform/Tick.h"
#include "record/RecordMerge.h"
#include "transmit/CanSendList.h"
#include "transmit/Replay.h"
#include "platform/FastSleepClock.h"

namespace {

// Output is flushed (and the log drained) at least this often.
constexpr uint32_t kFlushMs = 50;

const char kUsageHead[] = "usage: tarvenix-can-dump --port NAME [options]\n"
                          "       tarvenix-can-dump --input FILE [--input FILE ...] [options]\n"
                          "Opens one Seeed USB-CAN adapter and prints every received and sent frame as a trace line;\n"
                          "or reads recordings instead (--input) and prints or converts their frames alike.\n"
                          "\n"
                          "Options:\n";
const char kUsageOwn[] = "  --send ID#DATA   send a frame once after opening (ID#R: remote frame); repeatable\n"
                         "  --list FILE      transmit list in the record format: active Periodic items run on\n"
                         "                   their periods, active OnRequest items answer remote frames\n"
                         "  --duration S     stop after S seconds\n"
                         "  --frames N       stop after N received frames (that pass --filter)\n"
                         "  --log            engine log lines to stderr\n"
                         "  --dbc FILE       CAN database: after the line of each frame it knows, one\n"
                         "                   indented line per signal (\"  Name = value unit (text)\");\n"
                         "                   with --format trace only\n"
                         "  --stats          after the run, and at once on SIGUSR1 without stopping: one line\n"
                         "                   per identifier and kind (count, rate over the last second and\n"
                         "                   the run, period mean/min/max/jitter, length, bits, share of the\n"
                         "                   bus), then \"bus: <frames> frames, <bits> bits in <seconds> s,\n"
                         "                   load <L> % (peak <P> % in one second)\"; on stderr. Every frame\n"
                         "                   received and sent counts, whatever --filter passes; bits are\n"
                         "                   the frame's length on the wire, stuff bits and interframe space\n"
                         "                   included, and load is bits / (rate x seconds)\n"
                         "  --stats-interval S  --stats, and the bus: line every S seconds as well\n"
                         "  --send-signals 'MESSAGE:SIGNAL=VALUE,SIGNAL=TEXT,...'\n"
                         "                   with --dbc: send once after opening the frame of MESSAGE with\n"
                         "                   those signals (physical values or value-table texts), every\n"
                         "                   other bit 0, the message's length and kind; repeatable\n"
                         "  --csv FILE       with --dbc and --signals: write the signals as CSV (- is stdout):\n"
                         "                   \"time\" in seconds since the first frame, then one column per\n"
                         "                   signal, one row per frame (passing --filter) that carries one\n"
                         "                   of them; a value is empty where that frame does not carry it\n"
                         "  --signals NAME,NAME,...  the signals of --csv: SIGNAL (in every message that\n"
                         "                   has it) or MESSAGE.SIGNAL\n";
const char kUsageTail[] = "  -h, --help       show this text and exit\n"
                          "  --version        show the version and exit\n"
                          "Prints every trace entry on stdout; a summary on stderr at the end.\n"
                          "Exit: 0 normal end, 1 channel cannot be opened, port lost or adapter not responding,\n"
                          "      2 bad arguments.\n"
                          "An adapter that stops responding is noticed when a frame is sent (--send, --list,\n"
                          "--replay). Only receiving, it cannot be told from a quiet bus: in normal operation\n"
                          "the adapter answers nothing, and the one question it answers (the loopback probe of\n"
                          "the opening) takes it off the bus. A port that goes away is noticed at once.\n"
                          "SIGINT, SIGTERM and SIGHUP end it in order: the channel is closed, the summary printed.\n"
                          "SIGUSR1 prints the statistics (as --stats does) at once and goes on.\n";

struct TOptions {
    TChannelOptions Channel;
    std::vector<std::string> Sends;
    std::vector<std::string> SignalSends;
    std::string ListFile;
    double Duration = -1;
    long Frames = -1;
    bool Log = false;
    std::string DbcFile;
    TDumpRecordingOptions Recording;
    bool Stats = false;
    double StatsInterval = 0;
    std::string CsvFile;
    std::string CsvSignals;
};

void PrintUsage(FILE* to)
{
    std::fputs(kUsageHead, to);
    std::fputs(ChannelOptionsHelp().c_str(), to);
    std::fputs(kUsageOwn, to);
    std::fputs(RecordingUsage().c_str(), to);
    std::fputs(kUsageTail, to);
}

// The longest --duration whose milliseconds still fit the 32-bit tick difference.
constexpr double kMaxDurationS = 4000000;

TCommandLine MakeCommandLine(TOptions& o)
{
    TCommandLine line("tarvenix-can-dump", PrintUsage);
    line.Add(ChannelOptionTable(o.Channel));
    auto takeSend = [&o](const std::string& value) {
        o.Sends.push_back(value);
        return std::string();
    };
    auto takeSignalSend = [&o](const std::string& value) {
        o.SignalSends.push_back(value);
        return std::string();
    };
    line.Add({
        {"--send", TOptionValue::Required, takeSend},
        {"--send-signals", TOptionValue::Required, takeSignalSend},
        TextOption("--list", o.ListFile),
        RealOption("--duration", 0, kMaxDurationS, o.Duration, "seconds, at most 4000000"),
        CountOption("--frames", 0, LONG_MAX, o.Frames, "a count of frames"),
        SwitchOption("--log", o.Log),
        TextOption("--dbc", o.DbcFile),
        SwitchOption("--stats", o.Stats),
        RealOption("--stats-interval", 0.001, kMaxDurationS, o.StatsInterval, "seconds, 0.001 to 4000000"),
        TextOption("--csv", o.CsvFile),
        TextOption("--signals", o.CsvSignals),
    });
    line.Add(RecordingOptionTable(o.Recording));
    return line;
}

// The first option given that only a run on a port takes; empty when none.
std::string PortOnlyOption(const TOptions& o)
{
    if (!o.Sends.empty())
        return "--send";
    if (!o.SignalSends.empty())
        return "--send-signals";
    if (!o.ListFile.empty())
        return "--list";
    if (!o.Recording.ReplayFile.empty())
        return "--replay";
    if (o.Duration >= 0)
        return "--duration";
    if (o.StatsInterval > 0)
        return "--stats-interval";
    return {};
}

// How long the loop may sleep: until the next Periodic item is due, the next
// output flush, or the end of --duration, whichever comes first; at least 1 ms.
// Entries pile up in the trace meanwhile and are written in one go.
uint32_t NextWakeMs(const TCanSendList& list, const TDumpStats& stats, double duration, uint32_t started,
                    uint32_t lastFlush)
{
    const uint32_t now = tcm::TickCount();
    uint32_t wait = std::min(list.MsUntilDue(now), stats.MsUntilDue(now));
    const uint32_t sinceFlush = now - lastFlush;
    wait = std::min(wait, sinceFlush < kFlushMs ? kFlushMs - sinceFlush : 0u);
    if (duration >= 0) {
        const uint32_t end = static_cast<uint32_t>(duration * 1000.0);
        const uint32_t elapsed = now - started;
        wait = std::min(wait, elapsed < end ? end - elapsed : 0u);
    }
    return std::max(wait, 1u);
}

} // namespace

int main(int argc, char** argv)
{
    tcm::UseFastSleepClockWhenAsked();
    TOptions o;
    const TCommandLine commandLine = MakeCommandLine(o);
    if (const auto exitCode = commandLine.Parse(argc, argv))
        return *exitCode;
    const bool fromFiles = !o.Recording.Inputs.empty();
    if (fromFiles) {
        if (!o.Channel.Port.empty())
            return commandLine.Fail("--port and --input exclude each other");
        if (const std::string clash = PortOnlyOption(o); !clash.empty())
            return commandLine.Fail(clash + " needs a port; --input reads recordings instead");
    } else if (o.Channel.Port.empty()) {
        return commandLine.Fail("--port or --input is required");
    }
    if (o.Recording.Channel != 1 && !fromFiles && o.Recording.ReplayFile.empty())
        return commandLine.Fail("--channel needs --input or --replay");
    if (o.StatsInterval > 0)
        o.Stats = true;
    std::string error;
    std::vector<TCanFrame> sends;
    for (const auto& text : o.Sends) {
        auto frame = ParseCompactFrameAs(text, !o.Channel.Extended);
        if (!frame)
            return commandLine.Fail(BadValueText("--send", text, "ID#DATA or ID#R"));
        sends.push_back(*frame);
    }

    TDbcSignalLines signalLines;
    if (o.CsvFile.empty() != o.CsvSignals.empty())
        return commandLine.Fail(o.CsvFile.empty() ? "--signals needs --csv" : "--csv needs --signals");
    if (!o.CsvFile.empty() && o.DbcFile.empty())
        return commandLine.Fail("--csv needs --dbc");
    if (o.CsvFile == "-" && o.Recording.Output == "-")
        return commandLine.Fail("--csv - needs --output FILE: both would write to standard output");
    // In another format the database only composes --send-signals frames and the CSV.
    if (!o.DbcFile.empty() && o.Recording.Format != TRecordFormat::Trace && o.SignalSends.empty() &&
        o.CsvFile.empty()) {
        std::fprintf(stderr, "tarvenix-can-dump: --dbc prints signal lines in the trace format only\n");
        return 2;
    }
    if (!o.SignalSends.empty() && o.DbcFile.empty())
        return commandLine.Fail("--send-signals needs --dbc");
    if (!o.DbcFile.empty() && !signalLines.Load(o.DbcFile, error, stderr)) {
        std::fprintf(stderr, "tarvenix-can-dump: %s\n", error.c_str());
        return 2;
    }
    for (const auto& request : o.SignalSends) {
        TCanFrame frame;
        if (!ComposeSignalFrame(signalLines.Database(), request, frame, error))
            return commandLine.Fail("bad --send-signals " + DbcPrintable(request) + ": " + error);
        sends.push_back(frame);
    }

    TDumpCsv csv;
    if (!o.CsvFile.empty() && !csv.Open(o.CsvFile, o.CsvSignals, signalLines.Database(), error))
        return commandLine.Fail("--csv: " + error);

    TDumpOutput output;
    if (!o.CsvFile.empty())
        output.AlsoTo = [&csv](const TRecordFrame& frame) { csv.Add(frame); };
    if (signalLines.Loaded() && o.Recording.Format == TRecordFormat::Trace)
        output.ExtraLines = [&signalLines](const TTarvenixTraceItem& item, std::string& out) {
            signalLines.Append(item, out);
        };
    if (!o.Recording.ReplayFile.empty() && !TReplay::CanOpen(o.Recording.ReplayFile, error)) {
        std::fprintf(stderr, "tarvenix-can-dump: %s\n", error.c_str());
        return 2;
    }
    TRecordMerge input;
    if (fromFiles && !input.Open(o.Recording.Inputs, o.Recording.Channel, error)) {
        std::fprintf(stderr, "tarvenix-can-dump: %s\n", error.c_str());
        return 2;
    }
    if (!output.Open(o.Recording, error)) {
        std::fprintf(stderr, "tarvenix-can-dump: %s\n", error.c_str());
        return 2;
    }
    if (fromFiles) {
        InstallStopSignals();
        TDumpStats::InstallSignal();
        int exitCode = RunInput(input, output, {o.Frames, o.Stats, o.Channel.Rate});
        try {
            if (!o.CsvFile.empty())
                csv.Finish();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "tarvenix-can-dump: %s\n", e.what());
            exitCode = 1;
        }
        return exitCode;
    }

    InstallStopSignals();
    TDumpStats::InstallSignal();

    // No transmit-list file of the window is read or written; --list is only read.
    TToolChannel channel(o.Channel.Port, o.Channel.Rate, o.Channel.Extended);
    channel.SetWakeOnFrames(false); // the loop below looks at the trace on its own clock
    TCanSendList& list = channel.SendList();
    if (!o.ListFile.empty()) {
        try {
            list.LoadFromFileName(o.ListFile);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "tarvenix-can-dump: cannot read %s: %s\n", o.ListFile.c_str(), e.what());
            return 2;
        }
    }
    list.SetStandard(!o.Channel.Extended);
    FILE* const logTo = o.Log ? stderr : nullptr;

    if (!channel.Open(error)) {
        channel.DrainLog(logTo);
        std::fprintf(stderr, "tarvenix-can-dump: %s\n", error.c_str());
        return 1;
    }
    for (const auto& frame : sends)
        channel.Send(frame);
    std::unique_ptr<TReplay> replay;
    if (!o.Recording.ReplayFile.empty()) {
        replay = std::make_unique<TReplay>(
            o.Recording.ReplayFile, o.Recording.ReplayLoops,
            [&channel](const TCanFrame& frame) { channel.Send(frame); },
            [](const std::string& text) { std::fprintf(stderr, "tarvenix-can-dump: %s\n", text.c_str()); });
        replay->Channel = o.Recording.Channel;
        replay->Start();
    }

    // SIGUSR1 prints the statistics with or without --stats.
    TDumpStats stats(channel.Stats(), o.StatsInterval, stderr);

    const uint32_t started = tcm::TickCount();
    uint32_t lastFlush = started;
    int exitCode = 0;
    bool writeFailed = false;
    try {
        for (;;) {
            const uint32_t now = tcm::TickCount();
            list.SendPeriodic(now);

            const bool reachedFrames = output.Consume(channel, o.Frames);
            if (now - lastFlush >= kFlushMs || reachedFrames) {
                output.Flush();
                if (!o.CsvFile.empty())
                    csv.Flush();
                channel.DrainLog(logTo);
                lastFlush = now;
            }
            stats.Poll(now);
            if (reachedFrames || StopRequested())
                break;
            if (o.Duration >= 0 && (now - started) >= static_cast<uint32_t>(o.Duration * 1000.0))
                break;
            if (channel.PortLost()) {
                std::fprintf(stderr, "tarvenix-can-dump: the port %s was lost (device removed or closed)\n",
                             o.Channel.Port.c_str());
                exitCode = 1;
                break;
            }
            if (const std::string failure = channel.Failure(); !failure.empty()) {
                std::fprintf(stderr, "tarvenix-can-dump: %s\n", failure.c_str());
                exitCode = 1;
                break;
            }
            tcm::SleepMs(NextWakeMs(list, stats, o.Duration, started, lastFlush));
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tarvenix-can-dump: %s\n", e.what());
        writeFailed = true;
        exitCode = 1;
    }
    if (replay)
        replay->Stop();
    // Frames already queued (--send, replay, the list) go out before the channel closes.
    const int32_t unsent = channel.Close();
    if (unsent > 0)
        std::fprintf(stderr, "tarvenix-can-dump: %d queued frames were not sent\n", unsent);
    try {
        // Entries added after the last pass (frames written or received while the
        // channel was closing) are written too, unless the frame count was reached.
        if (!writeFailed && output.WrittenIn != o.Frames)
            output.Consume(channel, o.Frames);
        output.Finish();
        if (!o.CsvFile.empty())
            csv.Finish();
    } catch (const std::exception& e) {
        if (!writeFailed)
            std::fprintf(stderr, "tarvenix-can-dump: %s\n", e.what());
        exitCode = 1;
    }
    channel.DrainLog(logTo);
    if (replay)
        std::fprintf(stderr, "frames replayed: %llu\n", static_cast<unsigned long long>(replay->FramesSent()));
    std::fprintf(stderr, "frames in: %ld, frames out: %ld\n", output.FramesIn, output.FramesOut);
    if (o.Stats)
        stats.PrintAll();
    return exitCode;
}
