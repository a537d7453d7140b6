#include "seeed/SeeedThreads.h"

#include <cerrno>
#include <string>

#include "core/CanText.h"
#include "core/Logger.h"
#include "platform/Event.h"
#include "platform/SerialPort.h"
#include "platform/Tick.h"
#include "seeed/SeeedPacketParser.h"
#include "seeed/SendQueue.h"
#include "stats/ChannelStats.h"
#include "views/TarvenixTable.h"
#include "views/TarvenixTrace.h"

void TSeeedThreadRead::Execute()
{
    Logger->Add("** TSeeedThreadRead start");
    RaiseCurrentThreadPriority();
    // Everything already waiting is taken in one call and fed byte by byte:
    // one call per byte cannot keep up with a full link.
    uint8_t buffer[4096];
    bool failing = false;
    while (!StopRequested.load()) {
        const int n = Port->Read(buffer, sizeof(buffer), kReadWaitMs, &Wake);
        // Cleared before the flags are looked at: a wake-up given after this is
        // kept. A read that brought bytes leaves a pending wake-up for the next
        // Read, which returns at once: one system call less per read at full load.
        if (n <= 0)
            Wake.Clear();
        if (n > 0) {
            failing = false;
            Parser->PutBytes(buffer, n, Parser->FrameClock().NowUs());
            if (Stats)
                Stats->SetParserDrops(Parser->DamagedPackets(), Parser->SkippedBytes());
        } else if (n < 0) {
            // A vanished device fails every read at once: report it once and
            // rest between retries instead of spinning a core.
            if (!failing) {
                failing = true;
                Logger->Add("ReadFile is failed. Error = " + std::to_string(-n));
                if (OnReadFailed)
                    OnReadFailed(-n);
            }
            tcm::SleepMs(kFailedReadPauseMs);
        }
        Table->ProcessRequests();
    }
    Logger->Add("** TSeeedThreadRead finish");
}

TSeeedThreadTask::~TSeeedThreadTask()
{
    WaitForEndInDestructor();
}

void TSeeedThreadTask::Execute()
{
    RaiseCurrentThreadPriority();
    while (!StopRequested.load()) {
        // A queued frame starts its write at once; a stop ends the wait at once.
        std::unique_ptr<TCanFrame> frame = SendQueue->WaitPop(kQueueWaitMs, &StopRequested);
        if (!frame)
            continue;
        if (Reported) { // after a reported failure the owner closes the channel: nothing more is written
            if (Stats)
                Stats->CountNotTaken();
            continue;
        }
        const int error = SendFrame(*frame);
        // Only a frame whose packet went out whole is in the trace as sent.
        if (error == 0) {
            Failing = false;
            if (Clock)
                frame->TimeUs = Clock->Stamp(Clock->NowUs());
            Trace->AddFrame(*frame, true);
            if (Stats)
                Stats->Add(*frame, true);
        } else {
            if (Stats)
                Stats->CountNotTaken();
            Reported = WriteFailed(error);
        }
    }
}

void TSeeedThreadTask::WakeUp()
{
    if (SendQueue)
        SendQueue->Interrupt();
}

bool TSeeedThreadTask::WriteFailed(int error)
{
    const uint32_t now = tcm::TickCount();
    if (!Failing) {
        Failing = true;
        FailingSince = now;
    }
    const bool gone = error != ETIMEDOUT;
    if (!gone && now - FailingSince < kNoResponseMs)
        return false;
    if (OnWriteFailed)
        OnWriteFailed(error, gone);
    return true;
}

int TSeeedThreadTask::WritePacket(const TSeeedPacketCustom& packet, bool awaitEcho)
{
    if (EchoEvent)
        EchoEvent->Reset();
    if (awaitEcho)
        AwaitedId.store(static_cast<int32_t>(packet.PacketId()));
    const int error = Port->Write(packet.Wire(), packet.Size(), kWriteTimeoutMs);
    if (error != 0)
        Logger->Add("WriteFile is failed. Error = " + std::to_string(error));
    return error;
}

int TSeeedThreadTask::SendFrame(TCanFrame& frame)
{
    frame.Time = tcm::TickCount();
    return WritePacket(TSeeedPacketFrame(frame), true);
}

void TSeeedThreadTask::ServiceFrame(const TCanFrame& frame)
{
    std::string line = "++ gotServiceFrame id 0x";
    AppendHex(line, frame.Id, 8);
    Logger->Add(line);
    const int32_t awaited = AwaitedId.load();
    if (awaited >= 0 && frame.Id == static_cast<uint32_t>(awaited))
        EchoEvent->Set();
}

bool TSeeedThreadTask::WaitEcho(uint32_t timeoutMs)
{
    const uint32_t t1 = tcm::TickCount();
    const uint32_t result = EchoEvent->Wait(timeoutMs);
    if (result == tcm::kWaitSignalled)
        return true;
    const uint32_t t2 = tcm::TickCount();
    Logger->Add("Wait event frame got failed! Res = " + std::to_string(result) + ", t = " + std::to_string(t2 - t1));
    Logger->Add("t1 = " + std::to_string(t1) + ", t2 = " + std::to_string(t2));
    return false;
}

void TSeeedThreadTask::HookParser()
{
    EchoEvent = std::make_unique<tcm::TAutoResetEvent>();
    Parser->SetOnFrame([this](const TCanFrame& frame) { ServiceFrame(frame); });
}

void TSeeedThreadTask::ReleaseEvent()
{
    // Clearing the handler waits for a call in progress, so the event is no
    // longer used once it is freed.
    Parser->ClearOnFrame();
    EchoEvent.reset();
}

void TSeeedThreadTaskInit::Execute()
{
    HookParser();
    Result.store(RunInit());
    ReleaseEvent();
}

bool TSeeedThreadTaskInit::RunInit()
{
    WritePacket(TSeeedPacketSetAndStart(*Settings, kSeeedModeLoopback), false);
    tcm::SleepMs(kSettleMs);

    TCanFrame probe;
    probe.Id = kProbeId;
    probe.Request = false;
    probe.Standard = !Settings->Extended;
    probe.Length = 8;
    WritePacket(TSeeedPacketFrame(probe), true);
    if (!WaitEcho(kEchoTimeoutMs))
        return false; // the adapter stays in loopback; nothing more is written

    WritePacket(TSeeedPacketSetAndStart(*Settings, kSeeedModeNormal), false);
    tcm::SleepMs(kSettleMs);
    return true;
}
