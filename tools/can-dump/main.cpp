// tarvenix-can-dump: the headless monitor. Opens one Seeed adapter through the
// same engine as the window and prints every trace entry as its trace line, or
// records it in another format; optionally replays a recording onto the bus.
#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "DbcSignalLines.h"
#include "DumpOptions.h"
#include "DumpOutput.h"
#include "Replay.h"
#include "Version.h"
#include "adapter/AdapterSeeed.h"
#include "core/CanSettings.h"
#include "core/CanText.h"
#include "core/Logger.h"
#include "platform/SerialPort.h"
#include "platform/Tick.h"
#include "transmit/CanSendList.h"
#include "views/TarvenixTrace.h"

namespace {

std::atomic<bool> g_stop{false};

// Output is flushed (and the log drained) at least this often.
constexpr uint32_t kFlushMs = 50;

void OnSignal(int)
{
    g_stop.store(true);
}

const char kUsageHead[] = "usage: tarvenix-can-dump --port NAME [options]\n"
                          "Opens one Seeed USB-CAN adapter and prints every received and sent frame as a trace line.\n"
                          "\n"
                          "Options:\n"
                          "  --port NAME      serial port of the adapter (ttyUSB0, /dev/pts/3, ...)\n"
                          "  --rate BPS       CAN bit rate (default 250000)\n"
                          "  --extended       29-bit identifiers (default: 11-bit)\n"
                          "  --send ID#DATA   send a frame once after opening (ID#R: remote frame); repeatable\n"
                          "  --list FILE      transmit list in the record format: active Periodic items run on\n"
                          "                   their periods, active OnRequest items answer remote frames\n"
                          "  --duration S     stop after S seconds\n"
                          "  --frames N       stop after N received frames (that pass --filter)\n"
                          "  --log            engine log lines to stderr\n"
                          "  --dbc FILE       CAN database: after the line of each frame it knows, one\n"
                          "                   indented line per signal (\"  Name = value unit (text)\");\n"
                          "                   with --format trace only\n";
const char kUsageTail[] = "  -h, --help       show this text and exit\n"
                          "  --version        show the version and exit\n"
                          "Prints every trace entry on stdout; a summary on stderr at the end.\n"
                          "Exit: 0 normal end, 1 channel cannot be opened, port lost or adapter not responding,\n"
                          "      2 bad arguments.\n"
                          "SIGINT, SIGTERM and SIGHUP end it in order: the channel is closed, the summary printed.\n";

struct TOptions {
    std::string Port;
    int32_t Rate = 250000;
    bool Extended = false;
    std::vector<std::string> Sends;
    std::string ListFile;
    double Duration = -1;
    long Frames = -1;
    bool Log = false;
    std::string DbcFile;
    TDumpRecordingOptions Recording;
};

void PrintUsage(FILE* to)
{
    std::fputs(kUsageHead, to);
    std::fputs(kRecordingUsage, to);
    std::fputs(kUsageTail, to);
}

bool ParseNumber(const char* text, double& out)
{
    char* end = nullptr;
    out = std::strtod(text, &end);
    return end != text && *end == '\0' && out >= 0;
}

bool ParseArgs(int argc, char** argv, TOptions& o, std::string& error)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](const char*& v) {
            if (i + 1 >= argc) {
                error = a + " needs a value";
                return false;
            }
            v = argv[++i];
            return true;
        };
        const char* v = nullptr;
        double n = 0;
        if (a == "--port") {
            if (!value(v))
                return false;
            o.Port = v;
        } else if (a == "--rate") {
            if (!value(v) || !ParseNumber(v, n) || n < 1 || n > 2147483647.0 || n != static_cast<int32_t>(n)) {
                error = "bad --rate";
                return false;
            }
            o.Rate = static_cast<int32_t>(n);
        } else if (a == "--extended") {
            o.Extended = true;
        } else if (a == "--send") {
            if (!value(v))
                return false;
            o.Sends.emplace_back(v);
        } else if (a == "--list") {
            if (!value(v))
                return false;
            o.ListFile = v;
        } else if (a == "--duration") {
            if (!value(v) || !ParseNumber(v, n)) {
                error = "bad --duration";
                return false;
            }
            o.Duration = n;
        } else if (a == "--frames") {
            if (!value(v) || !ParseNumber(v, n) || n != static_cast<long>(n)) {
                error = "bad --frames";
                return false;
            }
            o.Frames = static_cast<long>(n);
        } else if (a == "--dbc") {
            if (!value(v))
                return false;
            o.DbcFile = v;
        } else if (a == "--log") {
            o.Log = true;
        } else if (a == "--version") {
            std::printf("tarvenix-can-dump %d.%d\n", TCM_VERSION_MAJOR, TCM_VERSION_MINOR);
            std::exit(0);
        } else if (a == "--help" || a == "-h") {
            PrintUsage(stdout);
            std::exit(0);
        } else if (TakeRecordingOption(argc, argv, i, o.Recording, error)) {
        } else if (!error.empty()) {
            return false;
        } else {
            error = "unknown argument " + a;
            return false;
        }
    }
    if (o.Port.empty()) {
        error = "--port is required";
        return false;
    }
    return true;
}

void DrainLog(TLogger& log, bool show)
{
    while (!log.IsEmpty()) {
        const std::string line = log.TakeFirst();
        if (show)
            std::fprintf(stderr, "%s\n", line.c_str());
    }
}

std::string OneLine(std::string text)
{
    for (char& c : text)
        if (c == '\r')
            c = '\n';
    return text;
}

// How long the loop may sleep: until the next Periodic item is due, the next
// output flush, or the end of --duration, whichever comes first; at least 1 ms.
// Entries pile up in the trace meanwhile and are written in one go.
uint32_t NextWakeMs(const TCanSendList& list, double duration, uint32_t started, uint32_t lastFlush)
{
    const uint32_t now = tcm::TickCount();
    uint32_t wait = list.MsUntilDue(now);
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
    TOptions o;
    std::string error;
    if (!ParseArgs(argc, argv, o, error)) {
        std::fprintf(stderr, "tarvenix-can-dump: %s\n", error.c_str());
        PrintUsage(stderr);
        return 2;
    }
    std::vector<TCanFrame> sends;
    for (const auto& text : o.Sends) {
        auto frame = ParseCompactFrameAs(text, !o.Extended);
        if (!frame) {
            std::fprintf(stderr, "tarvenix-can-dump: bad --send %s\n", text.c_str());
            PrintUsage(stderr);
            return 2;
        }
        sends.push_back(*frame);
    }

    TDbcSignalLines signalLines;
    if (!o.DbcFile.empty() && o.Recording.Format != TRecordFormat::Trace) {
        std::fprintf(stderr, "tarvenix-can-dump: --dbc prints signal lines in the trace format only\n");
        return 2;
    }
    if (!o.DbcFile.empty() && !signalLines.Load(o.DbcFile, error, stderr)) {
        std::fprintf(stderr, "tarvenix-can-dump: %s\n", error.c_str());
        return 2;
    }

    TDumpOutput output;
    if (signalLines.Loaded())
        output.ExtraLines = [&signalLines](const TTarvenixTraceItem& item, std::string& out) {
            signalLines.Append(item, out);
        };
    if (!o.Recording.ReplayFile.empty() && !TReplay::CanOpen(o.Recording.ReplayFile, error)) {
        std::fprintf(stderr, "tarvenix-can-dump: %s\n", error.c_str());
        return 2;
    }
    if (!output.Open(o.Recording, error)) {
        std::fprintf(stderr, "tarvenix-can-dump: %s\n", error.c_str());
        return 2;
    }

    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGHUP, OnSignal);

    // No transmit-list file of the window is read or written; --list is only read.
    CAdapterSeeed adapter(TSeeedManagerOptions{std::string()});
    TCanSendList& list = *adapter.GetSendList(0);
    if (!o.ListFile.empty()) {
        try {
            list.LoadFromFileName(o.ListFile);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "tarvenix-can-dump: cannot read %s: %s\n", o.ListFile.c_str(), e.what());
            return 2;
        }
    }
    TCanSettings& settings = *adapter.GetSettings(0);
    settings.Rate = o.Rate;
    settings.Extended = o.Extended;
    list.SetStandard(!o.Extended);
    adapter.Port = o.Port;
    TLogger& log = *adapter.GetLogger(0);
    TTarvenixTraceList& trace = *adapter.GetTrace(0);

    if (!adapter.Open(0)) {
        DrainLog(log, o.Log);
        std::fprintf(stderr, "tarvenix-can-dump: %s\n", OneLine(adapter.LastError).c_str());
        const std::string hint = tcm::PortAccessHint(adapter.LastErrorNumber);
        if (!hint.empty())
            std::fprintf(stderr, "%s\n", hint.c_str());
        return 1;
    }
    for (const auto& frame : sends)
        adapter.GetManager().QueueFrame(frame);
    std::unique_ptr<TReplay> replay;
    if (!o.Recording.ReplayFile.empty()) {
        replay = std::make_unique<TReplay>(
            o.Recording.ReplayFile, o.Recording.ReplayLoops,
            [&adapter](const TCanFrame& frame) { adapter.GetManager().QueueFrame(frame); },
            [](const std::string& text) { std::fprintf(stderr, "tarvenix-can-dump: %s\n", text.c_str()); });
        replay->Start();
    }

    const uint32_t started = tcm::TickCount();
    uint32_t lastFlush = started;
    int exitCode = 0;
    bool writeFailed = false;
    try {
        for (;;) {
            const uint32_t now = tcm::TickCount();
            list.SendPeriodic(now);

            const bool reachedFrames = output.Consume(trace, o.Frames);
            if (now - lastFlush >= kFlushMs || reachedFrames) {
                output.Flush();
                DrainLog(log, o.Log);
                lastFlush = now;
            }
            if (reachedFrames || g_stop.load())
                break;
            if (o.Duration >= 0 && (now - started) >= static_cast<uint32_t>(o.Duration * 1000.0))
                break;
            if (adapter.GetManager().IsPortLost()) {
                std::fprintf(stderr, "tarvenix-can-dump: the port %s was lost (device removed or closed)\n",
                             o.Port.c_str());
                exitCode = 1;
                break;
            }
            if (adapter.GetManager().GetFault() != TChannelFault::None) {
                std::fprintf(stderr, "tarvenix-can-dump: %s\n", adapter.ChannelFailure(0).c_str());
                exitCode = 1;
                break;
            }
            tcm::SleepMs(NextWakeMs(list, o.Duration, started, lastFlush));
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tarvenix-can-dump: %s\n", e.what());
        writeFailed = true;
        exitCode = 1;
    }
    if (replay)
        replay->Stop();
    adapter.Close(0);
    try {
        // Entries added after the last pass (frames written or received while the
        // channel was closing) are written too, unless the frame count was reached.
        if (!writeFailed && output.WrittenIn != o.Frames)
            output.Consume(trace, o.Frames);
        output.Finish();
    } catch (const std::exception& e) {
        if (!writeFailed)
            std::fprintf(stderr, "tarvenix-can-dump: %s\n", e.what());
        exitCode = 1;
    }
    DrainLog(log, o.Log);
    if (replay)
        std::fprintf(stderr, "frames replayed: %llu\n", static_cast<unsigned long long>(replay->FramesSent()));
    std::fprintf(stderr, "frames in: %ld, frames out: %ld\n", output.FramesIn, output.FramesOut);
    return exitCode;
}
