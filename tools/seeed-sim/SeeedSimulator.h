#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "SeeedSimOptions.h"
#include "SimDecoder.h"
#include "SimOutput.h"
#include "TrafficGenerator.h"
#include "core/CanGeneral.h"
#include "platform/Mutex.h"

namespace tcm {
class TPseudoTerminal;
}

// A simulated Seeed USB-CAN adapter on a pseudo-terminal. The computer opens the
// slave side (PortPath) as its serial port; the simulator answers on the master side
// as the adapter does: before any settings-and-start packet it is idle; in loopback
// mode (0x03) it sends every frame packet back unchanged; in normal mode (0x00) it
// reports generated bus traffic at the configured rate. It answers nothing else.
// The terminal keeps its slave side open itself, so the simulator cannot tell a
// closed port from a slow reader: while nobody reads, output queues up in the
// terminal (and reaches the next opener) until its buffer is full; then writes
// time out, and frames falling due meanwhile are lost as overrun.
//
// Two threads run while started: a reader of what the computer writes and a writer
// that paces all output to the link's byte rate in bursts about every millisecond.
// Every observation function is thread-safe.
class TSeeedSimulator {
public:
    enum class TState {
        Idle,     // no settings packet yet, or one with a working mode the adapter does not know
        Loopback, // echoes frames
        Normal,   // reports bus traffic
    };

    struct TCounters {
        uint64_t SettingsReceived = 0;
        uint64_t FramesReceived = 0; // frame packets from the computer
        uint64_t OtherPackets = 0;   // valid packets of another type from the computer
        uint64_t BytesReceived = 0;
        // Every bus frame that fell due takes a sequence number, whether it reaches
        // the link or not, so a receiver sees each loss as a gap.
        uint64_t FramesGenerated = 0; // bus frames that fell due (and took a sequence number)
        uint64_t FramesSent = 0;      // of those, written whole
        uint64_t FramesOverrun = 0;   // of those, dropped because the link could not keep up
        uint64_t FramesAbandoned = 0; // of those, still waiting when normal mode ended or restarted
        uint64_t FramesUnwritten = 0; // of those, dropped whole because a write failed
        uint64_t FramesEchoed = 0;    // loopback echoes queued
        uint64_t FramesInjected = 0;  // SendFrame calls
        uint64_t GarbageBytes = 0;    // garbage written before generated packets
        uint64_t BytesWritten = 0;    // every byte that went out
        uint64_t WriteFailures = 0;   // write calls that failed (nobody reading, device gone)
        // Echoed or injected bytes dropped, in whole packets (whole SendRaw calls):
        // the output queue was full, or a write of them failed.
        uint64_t OutputDropped = 0;
    };

    using TSettingsHandler = std::function<void(const TSeeedSimSettings&)>;
    using TFrameHandler = std::function<void(const TCanFrame&)>;
    using TPacketHandler = std::function<void(const uint8_t* packet)>;

    explicit TSeeedSimulator(TSeeedSimOptions options = {});
    ~TSeeedSimulator();
    TSeeedSimulator(const TSeeedSimulator&) = delete;
    TSeeedSimulator& operator=(const TSeeedSimulator&) = delete;

    // Opens a new pseudo-terminal and starts the threads. The adapter starts idle.
    // False with LastError() when no pseudo-terminal can be had or when running.
    bool Start();
    // Stops the threads and closes the master side; an open slave sees a hang-up,
    // as when the adapter is unplugged. History and counters stay readable.
    void Stop();
    // The adapter disappearing: the same as Stop, named for the tests that use it.
    void Unplug() { Stop(); }
    bool IsRunning() const { return Running.load(); }
    // A hung adapter: while held, nothing the computer writes is read, so its
    // writes fill the terminal's buffer and then time out. Releasing reads on.
    void HoldReading(bool hold) { ReadingHeld.store(hold); }

    // The slave side's path, such as /dev/pts/3; empty before Start.
    std::string PortPath() const;
    std::string LastError() const;
    const TSeeedSimOptions& Options() const { return Opts; }

    // Handlers called on the reader thread for everything the computer sends, in
    // order, without any lock of the simulator held. Set them before Start.
    void SetOnSettings(TSettingsHandler handler) { OnSettings = std::move(handler); }
    void SetOnFrame(TFrameHandler handler) { OnFrame = std::move(handler); }
    void SetOnOtherPacket(TPacketHandler handler) { OnOtherPacket = std::move(handler); }

    // What the computer sent (kept when Options().KeepHistory), in order of arrival.
    std::vector<TSeeedSimSettings> ReceivedSettings() const;
    std::vector<TCanFrame> ReceivedFrames() const;
    std::vector<uint8_t> ReceivedBytes() const;
    void ClearHistory();

    TState State() const;
    TCounters Counters() const;

    // Wait until at least `count` frame packets (settings packets) have arrived
    // since construction or the last ClearHistory, or until at least `count`
    // generated frames have been written in all; false on time-out.
    bool WaitFramesReceived(uint64_t count, uint32_t timeoutMs) const;
    bool WaitSettingsReceived(uint64_t count, uint32_t timeoutMs) const;
    bool WaitFramesSent(uint64_t count, uint32_t timeoutMs) const;
    // Waits until everything the computer wrote before the call has been read
    // and handled: two reads begun since then found the terminal empty. False on
    // time-out, as while reading is held.
    bool WaitAllRead(uint32_t timeoutMs) const;

    // Injection: a frame packet or raw bytes written after the output already queued,
    // through the same paced link, whatever the mode and even when silent.
    void SendFrame(const TCanFrame& frame);
    void SendRaw(const std::vector<uint8_t>& bytes);
    void SendRaw(const uint8_t* bytes, size_t size);

private:
    void ReadLoop();
    void WriteLoop();
    void HandleBytes(const uint8_t* bytes, size_t size);
    void QueueOutput(const uint8_t* bytes, size_t size) TCM_REQUIRES(Lock);

    TSeeedSimOptions Opts;
    std::unique_ptr<tcm::TPseudoTerminal> Pty;
    std::thread Reader;
    std::thread Writer;
    std::atomic<bool> Running{false};
    std::atomic<bool> Stopping{false};
    std::atomic<bool> ReadingHeld{false};

    TSettingsHandler OnSettings;
    TFrameHandler OnFrame;
    TPacketHandler OnOtherPacket;

    // Only the reader thread touches the decoder.
    TSeeedSimDecoder Decoder;

    mutable tcm::TMutex Lock;
    mutable tcm::TCondition Changed; // history or counters changed
    tcm::TCondition OutputReady;     // output queued, mode changed or stopping
    std::string Path TCM_GUARDED_BY(Lock);
    std::string Error TCM_GUARDED_BY(Lock);
    TState Mode TCM_GUARDED_BY(Lock) = TState::Idle;
    uint64_t ModeEpoch TCM_GUARDED_BY(Lock) = 0;     // counts settings packets, so the writer sees every restart
    bool OutputKick TCM_GUARDED_BY(Lock) = false;    // output queued since the writer last looked
    TSimOutputQueue PendingOut TCM_GUARDED_BY(Lock); // echoes and injected bytes, oldest first
    std::vector<TSeeedSimSettings> SettingsHistory TCM_GUARDED_BY(Lock);
    std::vector<TCanFrame> FrameHistory TCM_GUARDED_BY(Lock);
    std::vector<uint8_t> ByteHistory TCM_GUARDED_BY(Lock);
    uint64_t FramesSinceClear TCM_GUARDED_BY(Lock) = 0;
    uint64_t SettingsSinceClear TCM_GUARDED_BY(Lock) = 0;
    uint64_t EmptyReads TCM_GUARDED_BY(Lock) = 0; // reads that found the terminal empty
    TCounters Count TCM_GUARDED_BY(Lock);
    TTrafficGenerator Generator; // writer thread only, but created here
};
