#pragma once
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "adapter/AdapterSeeed.h"
#include "core/CanGeneral.h"
#include "platform/WakeEvent.h"

class TCanSendList;
class TTarvenixTraceItem;
class TTarvenixTraceList;
class TChannelStats;
struct TCanSettings;

// One Seeed adapter driven by a command-line tool through the same engine as
// the window: the adapter's Open (port, loopback probe, normal mode) and Close,
// the send queue, and the trace as the record of every received and sent frame.
// No transmit-list file of the window is read or written; a tool may fill the
// channel's transmit list itself (SendList).
class TToolChannel {
public:
    TToolChannel(const std::string& port, int32_t rate, bool extended);
    TToolChannel(const TToolChannel&) = delete;
    TToolChannel& operator=(const TToolChannel&) = delete;

    // Opens the port and closes it again, so that a tool can refuse to start
    // on a port it could not use. False with the reason in `error`.
    bool CheckPort(std::string& error);

    // Opens the channel at the current rate and mode. The trace starts empty,
    // so FollowTrace sees only this opening's frames. False with the adapter's
    // LastError in `error`.
    bool Open(std::string& error);
    // Lets the frames already queued go out (waiting at most kDrainMs), then
    // stops the worker threads (the sender first) and closes the port; nothing
    // happens when the channel is closed. Returns how many queued frames were
    // never sent.
    int32_t Close();
    static constexpr uint32_t kDrainMs = 2000;
    static constexpr uint32_t kFaultLookMs = 20;
    bool IsOpen() const;
    // Why the open channel stopped working (its port went away, or the adapter
    // stopped taking bytes), as the adapter words it, or why its trace keeps
    // no more entries (no memory left); empty while it works.
    std::string Failure() const;
    // The failure is that the port went away (device removed or closed).
    bool PortLost() const;

    void SetRate(int32_t rate);
    int32_t Rate() const;
    bool Extended() const;

    // Queues a frame for the sender thread; false when the channel has failed.
    bool Send(const TCanFrame& frame);
    // Frames queued and not yet taken by the sender thread.
    int32_t QueuedFrames() const;
    // The channel's transmit list: Periodic items the tool sends with
    // SendPeriodic, OnRequest items that answer remote frames while open.
    TCanSendList& SendList();

    // Hands every trace entry added since the last call (or since Open) to
    // `visit`, in order; returns how many. `visit` returns false to stop early:
    // the entry it refused is offered again at the next call. Entries handed
    // over are released, so a bridge that runs for days holds bounded memory.
    using TVisit = std::function<bool(const TTarvenixTraceList& trace, const TTarvenixTraceItem& item)>;
    int32_t FollowTrace(const TVisit& visit);

    // Bus load and per-identifier figures of the current (or last) opening.
    const TChannelStats& Stats();
    // A tool that never shows per-identifier figures keeps none: the channel's
    // totals only, and no memory that grows with the identifiers a client
    // sends or the bus carries.
    void KeepTotalsOnly();

    // Takes the engine's pending log lines; writes them to `out` unless null.
    void DrainLog(std::FILE* out);

    // An engine error text for a terminal: its carriage returns become new lines.
    static std::string ErrorText(std::string text);
    // How to get access to serial ports, as a line of its own after an error
    // text, when opening failed with permission denied; empty otherwise.
    static std::string HintLine(int errorNumber);

    // Waits up to `timeoutMs` for a new trace entry, for `alsoFd` (when not -1)
    // to show an error or hang-up, or for a signal.
    void WaitForFrames(int timeoutMs, int alsoFd = -1);
    // A tool that looks at the trace on its own clock and never calls
    // WaitForFrames turns the wake-up per trace entry off (one system call less
    // per frame).
    void SetWakeOnFrames(bool wake);

private:
    tcm::TWakeEvent FrameAdded; // outlives the adapter and its trace
    CAdapterSeeed Adapter;
    TCanSettings* Settings; // lent by the adapter
    int64_t Followed = 0;
};
