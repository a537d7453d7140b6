#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/CanGeneral.h"

namespace tcm {
class TSerialPort;
}
class TLogger;
struct TCanSettings;
class TTarvenixTraceList;
class TTarvenixTable;
class TChannelStats;
class TCanSendList;
class TSendQueue;
class TSeeedPacketParser;
class TSeeedThreadRead;
class TSeeedThreadTask;

// Why an open channel stopped working: the port went away (reads or writes
// fail with the device gone), or the adapter stopped taking bytes (writes
// failed or timed out for about a second with nothing else written).
enum class TChannelFault { None, PortLost, NotResponding };

struct TSeeedManagerOptions {
    // Where the transmit list lives: unset for the usual file beside the
    // program, an empty text for no file at all (nothing loaded or saved).
    std::optional<std::string> SendListFile;
};

// The engine behind one Seeed USB-CAN adapter: the serial port, the worker
// threads and the channel's objects (log, settings, trace, receive table,
// transmit list).
class TSeeedManager {
public:
    explicit TSeeedManager(const TSeeedManagerOptions& options = {});
    // The owner calls Stop and ClosePort first.
    ~TSeeedManager();
    TSeeedManager(const TSeeedManager&) = delete;
    TSeeedManager& operator=(const TSeeedManager&) = delete;

    bool OpenPort(const std::string& portName);
    void ClosePort();
    bool Start();
    void Stop();
    void GetSupportedRates(std::vector<int32_t>& rates) const;
    // The transmit list's send handler: queues a copy of the frame. False (and
    // nothing queued) once the open channel has a fault: the frame cannot go out.
    bool QueueFrame(const TCanFrame& frame);
    // The parser's handler in normal operation, on the reading thread.
    void FrameReceived(const TCanFrame& frame);

    bool IsPortOpen() const { return PortOpen; }
    bool IsRunning() const { return Running.load(); }
    // The open channel's fault, the first one met, and its error number; both
    // cleared by OpenPort and ClosePort.
    TChannelFault GetFault() const { return static_cast<TChannelFault>(FaultState.load() >> 32); }
    int GetFaultError() const { return static_cast<int>(static_cast<uint32_t>(FaultState.load())); }
    bool IsPortLost() const { return GetFault() == TChannelFault::PortLost; }
    const std::string& GetLastError() const { return LastError; }
    // errno behind the last failed OpenPort; 0 when it had none.
    int GetLastErrorNumber() const { return LastErrorNumber; }

    TLogger* GetLogger() const { return Logger.get(); }
    TCanSettings* GetSettings() const { return Settings.get(); }
    TTarvenixTraceList* GetTrace() const { return Trace.get(); }
    TTarvenixTable* GetTable() const { return Table.get(); }
    TCanSendList* GetSendList() const { return SendList.get(); }
    // Bus load and per-identifier figures of the current (or last) run.
    TChannelStats* GetStats() const { return Stats.get(); }
    int32_t QueuedFrames() const;
    // Waits up to `timeoutMs` for the send queue to be empty; true when it is.
    bool WaitQueueEmpty(uint32_t timeoutMs) const;
    // Why the transmit list could not be read at creation (once); empty when it could.
    std::string TakeLoadError() { return std::exchange(LoadError, std::string()); }
    // Which lines of the transmit list file were not understood (once); empty when none.
    std::string TakeLoadNotice() { return std::exchange(LoadNotice, std::string()); }

    // Receives the text of a transmit-list save that failed while the manager
    // was being destroyed, where no error can be raised.
    std::function<void(const std::string&)> OnSaveError;

private:
    void StopThreads();
    void SetFault(TChannelFault fault, int error);

    bool PortOpen = false;
    std::atomic<bool> Running{false};
    // The fault's kind in the high half, its error number in the low half: one
    // atomic, so that the first fault wins whole.
    std::atomic<uint64_t> FaultState{0};
    std::unique_ptr<tcm::TSerialPort> Port;
    std::string LastError;
    int LastErrorNumber = 0;
    std::string LoadError;
    std::string LoadNotice;
    std::unique_ptr<TSendQueue> SendQueue;
    std::unique_ptr<TSeeedThreadRead> ReadThread;
    std::unique_ptr<TSeeedThreadTask> TaskThread;
    std::unique_ptr<TSeeedPacketParser> Parser;
    std::unique_ptr<TLogger> Logger;
    std::unique_ptr<TCanSettings> Settings;
    std::unique_ptr<TTarvenixTraceList> Trace;
    std::unique_ptr<TTarvenixTable> Table;
    std::unique_ptr<TCanSendList> SendList;
    std::unique_ptr<TChannelStats> Stats;
};
