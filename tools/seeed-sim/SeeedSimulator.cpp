#include "SeeedSimulator.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>

#include "platform/PseudoTerminal.h"
#include "platform/Tick.h"
#include "seeed/SeeedPacket.h"

namespace {

using TClock = std::chrono::steady_clock;

constexpr int kReadChunk = 4096;
constexpr int kReadWaitMs = 20;            // how often the reader looks at its stop flag
constexpr uint32_t kRetryAfterErrorMs = 3; // no faster retries on a hung-up or failed master
constexpr size_t kMaxBatch = 32 * 1024;    // bytes per write call
constexpr size_t kMaxPendingOut = 1 << 20; // echoes and injections waiting for the link
constexpr auto kBurstPeriod = std::chrono::milliseconds(1);
// A reader that takes nothing for this long makes the write fail; what it did not
// take is lost (a real adapter's buffers would overflow as well).
constexpr int kWriteTimeoutMs = 250;

} // namespace

TSeeedSimulator::TSeeedSimulator(TSeeedSimOptions options)
    : Opts(std::move(options)), PendingOut(kMaxPendingOut), Generator(Opts)
{
}

TSeeedSimulator::~TSeeedSimulator()
{
    Stop();
}

bool TSeeedSimulator::Start()
{
    if (Running.load()) {
        tcm::TMutexLock guard(Lock);
        Error = "The simulator is already running";
        return false;
    }
    auto pty = std::make_unique<tcm::TPseudoTerminal>();
    if (!pty->Open()) {
        tcm::TMutexLock guard(Lock);
        Error = "Cannot open a pseudo-terminal: " + pty->LastError();
        return false;
    }
    {
        tcm::TMutexLock guard(Lock);
        Path = pty->SlavePath();
        Error.clear();
        Mode = TState::Idle;
        ++ModeEpoch;
        PendingOut.Clear();
    }
    Pty = std::move(pty);
    Decoder.Reset();
    Stopping.store(false);
    Running.store(true);
    Reader = std::thread([this] { ReadLoop(); });
    Writer = std::thread([this] { WriteLoop(); });
    return true;
}

void TSeeedSimulator::Stop()
{
    if (!Running.load())
        return;
    {
        tcm::TMutexLock guard(Lock);
        Stopping.store(true);
    }
    OutputReady.notify_all();
    if (Reader.joinable())
        Reader.join();
    if (Writer.joinable())
        Writer.join();
    // Only now, with no thread using it, the master is closed.
    Pty->Close();
    Pty.reset();
    Running.store(false);
    Changed.notify_all();
}

std::string TSeeedSimulator::PortPath() const
{
    tcm::TMutexLock guard(Lock);
    return Path;
}

std::string TSeeedSimulator::LastError() const
{
    tcm::TMutexLock guard(Lock);
    return Error;
}

std::vector<TSeeedSimSettings> TSeeedSimulator::ReceivedSettings() const
{
    tcm::TMutexLock guard(Lock);
    return SettingsHistory;
}

std::vector<TCanFrame> TSeeedSimulator::ReceivedFrames() const
{
    tcm::TMutexLock guard(Lock);
    return FrameHistory;
}

std::vector<uint8_t> TSeeedSimulator::ReceivedBytes() const
{
    tcm::TMutexLock guard(Lock);
    return ByteHistory;
}

void TSeeedSimulator::ClearHistory()
{
    tcm::TMutexLock guard(Lock);
    SettingsHistory.clear();
    FrameHistory.clear();
    ByteHistory.clear();
    FramesSinceClear = 0;
    SettingsSinceClear = 0;
}

TSeeedSimulator::TState TSeeedSimulator::State() const
{
    tcm::TMutexLock guard(Lock);
    return Mode;
}

TSeeedSimulator::TCounters TSeeedSimulator::Counters() const
{
    tcm::TMutexLock guard(Lock);
    return Count;
}

bool TSeeedSimulator::WaitFramesReceived(uint64_t count, uint32_t timeoutMs) const
{
    tcm::TMutexLock lock(Lock);
    return Changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [&]() TCM_REQUIRES(Lock) { return FramesSinceClear >= count; });
}

bool TSeeedSimulator::WaitSettingsReceived(uint64_t count, uint32_t timeoutMs) const
{
    tcm::TMutexLock lock(Lock);
    return Changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [&]() TCM_REQUIRES(Lock) { return SettingsSinceClear >= count; });
}

bool TSeeedSimulator::WaitFramesSent(uint64_t count, uint32_t timeoutMs) const
{
    tcm::TMutexLock lock(Lock);
    return Changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [&]() TCM_REQUIRES(Lock) { return Count.FramesSent >= count; });
}

bool TSeeedSimulator::WaitAllRead(uint32_t timeoutMs) const
{
    tcm::TMutexLock lock(Lock);
    // The first empty read counted may have ended just before the call; the
    // second began after it.
    const uint64_t until = EmptyReads + 2;
    return Changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [&]() TCM_REQUIRES(Lock) { return EmptyReads >= until; });
}

void TSeeedSimulator::SendFrame(const TCanFrame& frame)
{
    const TSeeedPacketFrame packet(frame);
    tcm::TMutexLock guard(Lock);
    ++Count.FramesInjected;
    QueueOutput(packet.Wire(), static_cast<size_t>(packet.Size()));
}

void TSeeedSimulator::SendRaw(const std::vector<uint8_t>& bytes)
{
    SendRaw(bytes.data(), bytes.size());
}

void TSeeedSimulator::SendRaw(const uint8_t* bytes, size_t size)
{
    tcm::TMutexLock guard(Lock);
    QueueOutput(bytes, size);
}

void TSeeedSimulator::QueueOutput(const uint8_t* bytes, size_t size)
{
    // Nobody reading for a long time: the queue stays bounded, and what does not
    // fit is dropped whole.
    if (!PendingOut.Push(bytes, size))
        Count.OutputDropped += size;
    OutputKick = true;
    OutputReady.notify_all();
}

void TSeeedSimulator::ReadLoop()
{
    uint8_t buffer[kReadChunk];
    while (!Stopping.load()) {
        if (ReadingHeld.load()) {
            tcm::SleepMs(kReadWaitMs);
            continue;
        }
        const int got = Pty->Read(buffer, kReadChunk, kReadWaitMs);
        if (got > 0) {
            HandleBytes(buffer, static_cast<size_t>(got));
        } else if (got == 0) {
            tcm::TMutexLock guard(Lock);
            ++EmptyReads;
            Changed.notify_all();
        } else {
            // A failing master may fail at once and for ever: wait a little
            // instead of spinning.
            tcm::SleepMs(kRetryAfterErrorMs);
        }
    }
}

void TSeeedSimulator::HandleBytes(const uint8_t* bytes, size_t size)
{
    // Decode under the lock, call the handlers after it, in arrival order.
    struct TEvent {
        TSeeedSimDecoder::TPacket Kind;
        TSeeedSimSettings Settings;
        TCanFrame Frame;
        uint8_t Packet[kSeeedPacketSize];
    };
    std::vector<TEvent> events;
    const uint32_t now = tcm::TickCount();
    {
        tcm::TMutexLock guard(Lock);
        Count.BytesReceived += size;
        if (Opts.KeepHistory)
            ByteHistory.insert(ByteHistory.end(), bytes, bytes + size);
        for (size_t i = 0; i < size; ++i) {
            const auto kind = Decoder.PutByte(bytes[i], now);
            if (kind == TSeeedSimDecoder::TPacket::None)
                continue;
            TEvent event{};
            event.Kind = kind;
            std::memcpy(event.Packet, Decoder.Window(), kSeeedPacketSize);
            switch (kind) {
            case TSeeedSimDecoder::TPacket::Settings: {
                const TSeeedSimSettings& s = Decoder.Settings();
                event.Settings = s;
                ++Count.SettingsReceived;
                ++SettingsSinceClear;
                if (Opts.KeepHistory)
                    SettingsHistory.push_back(s);
                Mode = s.Loopback() ? TState::Loopback : s.Normal() ? TState::Normal : TState::Idle;
                ++ModeEpoch;
                OutputReady.notify_all();
                break;
            }
            case TSeeedSimDecoder::TPacket::Frame:
                event.Frame = Decoder.Frame();
                ++Count.FramesReceived;
                ++FramesSinceClear;
                if (Opts.KeepHistory)
                    FrameHistory.push_back(event.Frame);
                if (Mode == TState::Loopback && !Opts.Silent) {
                    // The packet goes back exactly as it came, reserved byte included.
                    ++Count.FramesEchoed;
                    QueueOutput(Decoder.Window(), kSeeedPacketSize);
                }
                break;
            case TSeeedSimDecoder::TPacket::Other:
                ++Count.OtherPackets;
                break;
            case TSeeedSimDecoder::TPacket::None:
                break;
            }
            if (OnSettings || OnFrame || OnOtherPacket)
                events.push_back(event);
        }
    }
    Changed.notify_all();
    for (const TEvent& event : events) {
        switch (event.Kind) {
        case TSeeedSimDecoder::TPacket::Settings:
            if (OnSettings)
                OnSettings(event.Settings);
            break;
        case TSeeedSimDecoder::TPacket::Frame:
            if (OnFrame)
                OnFrame(event.Frame);
            break;
        case TSeeedSimDecoder::TPacket::Other:
            if (OnOtherPacket)
                OnOtherPacket(event.Packet);
            break;
        case TSeeedSimDecoder::TPacket::None:
            break;
        }
    }
}

void TSeeedSimulator::WriteLoop()
{
    TLinkPacer pacer(Opts.Baud / 10, Opts.Silent ? 0.0 : Opts.FramesPerSecond);
    TSimBatch batch;
    std::vector<uint8_t> unit;
    tcm::TMutexLock lock(Lock);
    // The computer may have sent settings before this thread got here: look at
    // the mode in the first round whatever the epoch.
    uint64_t seenEpoch = ~ModeEpoch;
    pacer.ResetBudget(TClock::now());
    while (!Stopping.load()) {
        const auto now = TClock::now();
        if (seenEpoch != ModeEpoch) {
            seenEpoch = ModeEpoch;
            if (Mode == TState::Normal)
                pacer.StartSchedule(now);
            else
                pacer.StopSchedule();
        }
        OutputKick = false;
        pacer.Advance(now);
        // Frames dropped before the link use up their sequence numbers.
        const uint64_t dropped = pacer.TakeDropped();
        Generator.Skip(dropped);
        Count.FramesGenerated += dropped;
        Count.FramesOverrun = pacer.FramesOverrun();
        Count.FramesAbandoned = pacer.FramesAbandoned();

        // The rest of a packet cut by a failed write first, then echoes and
        // injected bytes in the order they were queued, then the bus frames that
        // have fallen due, as far as the link allows.
        batch.Begin();
        pacer.Spend(batch.Size());
        while (!PendingOut.Empty() && pacer.HasBudget() && batch.Size() < kMaxBatch) {
            pacer.Spend(PendingOut.FrontSize());
            batch.Add(PendingOut.Pop(), TSimBatch::TKind::Queued);
        }
        while (pacer.FramesDue() > 0 && pacer.HasBudget() && batch.Size() < kMaxBatch) {
            unit.clear();
            Generator.AppendGarbage(unit);
            Count.GarbageBytes += unit.size();
            const TSeeedPacketFrame packet(Generator.Next());
            unit.insert(unit.end(), packet.Wire(), packet.Wire() + packet.Size());
            pacer.Spend(unit.size());
            pacer.TakeFrame();
            batch.Add(unit, TSimBatch::TKind::Frame);
            ++Count.FramesGenerated;
        }

        bool failed = false;
        if (!batch.Empty()) {
            lock.unlock();
            size_t written = 0;
            const int error = WriteCounted(*Pty, batch.Data(), batch.Size(), kWriteTimeoutMs, written);
            lock.lock();
            const TSimBatch::TSettled settled = batch.Settle(written);
            Count.BytesWritten += written;
            Count.FramesSent += settled.FramesWritten;
            Count.FramesUnwritten += settled.FramesDropped;
            Count.OutputDropped += settled.QueuedDropped;
            if (error != 0) {
                ++Count.WriteFailures;
                failed = true;
            }
            Changed.notify_all();
            // More may be waiting already (a large queue, an unlimited link).
            if (!failed && (pacer.FramesDue() > 0 || !PendingOut.Empty()) && pacer.HasBudget())
                continue;
        }

        // Sleep until the next burst: at least a millisecond, so that output goes
        // in bursts; without a schedule or anything waiting, until woken.
        auto wake = TClock::time_point::max();
        if (failed || !PendingOut.Empty() || pacer.FramesDue() > 0)
            wake = now + kBurstPeriod;
        else if (pacer.NextDue() != TClock::time_point::max())
            wake = std::max(pacer.NextDue(), now + kBurstPeriod);
        const auto woken = [&]() TCM_REQUIRES(Lock) {
            return Stopping.load() || seenEpoch != ModeEpoch || (OutputKick && !failed);
        };
        if (wake == TClock::time_point::max())
            OutputReady.wait(lock, woken);
        else
            OutputReady.wait_until(lock, wake, woken);
    }
}
