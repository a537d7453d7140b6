#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/Event.h"
#include "platform/WakeEvent.h"
#include "seeed/ChannelThread.h"
#include "seeed/SeeedPacket.h"

namespace tcm {
class TFrameClock;
class TSerialPort;
} // namespace tcm
class TSeeedPacketParser;
class TSendQueue;
class TTarvenixTable;
class TChannelStats;
struct TCanSettings;

// Base of the Seeed worker threads: the open port and the adapter's parser (not owned).
class TSeeedThreadCustom : public TChannelCustomThread {
public:
    TSeeedThreadCustom(tcm::TSerialPort* port, bool createSuspended) : TChannelCustomThread(createSuspended), Port(port)
    {
    }

    tcm::TSerialPort* Port;
    TSeeedPacketParser* Parser = nullptr;
};

// Reads the port, feeds the parser and carries out the receive table's
// pending requests after every read.
class TSeeedThreadRead : public TSeeedThreadCustom {
public:
    using TSeeedThreadCustom::TSeeedThreadCustom;
    ~TSeeedThreadRead() override { WaitForEndInDestructor(); }

    TTarvenixTable* Table = nullptr;
    TChannelStats* Stats = nullptr; // told the parser's drop counts; may be null
    // Called once when reads start failing (the device is gone), with the error number.
    std::function<void(int error)> OnReadFailed;

    // How long the loop rests between reads of a failed port.
    static constexpr uint32_t kFailedReadPauseMs = 5;
    // The longest read wait: the loop sleeps in it until bytes come, a stop
    // is asked or the receive table has a request.
    static constexpr int kReadWaitMs = 250;

    void WakeUp() override { Wake.Signal(); }

protected:
    void Execute() override;

private:
    tcm::TWakeEvent Wake;
};

// Takes frames from the send queue, writes them and records them in the trace.
class TSeeedThreadTask : public TSeeedThreadCustom {
public:
    using TSeeedThreadCustom::TSeeedThreadCustom;
    ~TSeeedThreadTask() override;

    TSendQueue* SendQueue = nullptr;
    TChannelStats* Stats = nullptr; // every frame written, and every frame that could not be; may be null
    TCanSettings* Settings = nullptr;
    // Stamps sent frames on the same clock as received ones; may be null.
    tcm::TFrameClock* Clock = nullptr;
    // Called once when frames can no longer be written: `gone` when the device
    // went away, else the adapter stopped taking bytes for kNoResponseMs.
    std::function<void(int error, bool gone)> OnWriteFailed;

    // How long writes may fail or time out, with nothing written, before the
    // adapter counts as not responding.
    static constexpr uint32_t kNoResponseMs = 1000;
    static constexpr int kWriteTimeoutMs = 100;
    // The longest wait for a queued frame; a stop ends it at once.
    static constexpr uint32_t kQueueWaitMs = 250;

    void WakeUp() override;

    // Returns 0 when the whole packet was written, else the error number.
    int WritePacket(const TSeeedPacketCustom& packet, bool awaitEcho);
    int SendFrame(TCanFrame& frame);
    // The parser's handler while the adapter is being initialised.
    void ServiceFrame(const TCanFrame& frame);
    bool WaitEcho(uint32_t timeoutMs);
    void HookParser();
    void ReleaseEvent();

protected:
    void Execute() override;
    // Keeps count of failed writes; true once the failure is reported.
    bool WriteFailed(int error);

    std::atomic<int32_t> AwaitedId{-1};
    bool Failing = false;
    bool Reported = false;
    uint32_t FailingSince = 0;
    std::unique_ptr<tcm::TAutoResetEvent> EchoEvent;
};

// The initialisation sequence of one start: loopback settings, probe frame,
// wait for its echo, normal settings.
class TSeeedThreadTaskInit : public TSeeedThreadTask {
public:
    using TSeeedThreadTask::TSeeedThreadTask;
    ~TSeeedThreadTaskInit() override { WaitForEndInDestructor(); }

    bool RunInit();
    bool Succeeded() const { return Result.load(); }

    static constexpr uint32_t kProbeId = 0x7A5;
    static constexpr uint32_t kSettleMs = 200;
    static constexpr uint32_t kEchoTimeoutMs = 200;

protected:
    void Execute() override;

private:
    std::atomic<bool> Result{false};
};
