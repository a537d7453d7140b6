#include "seeed/SeeedManager.h"

#include "core/CanSettings.h"
#include "core/Logger.h"
#include "platform/SerialPort.h"
#include "seeed/SeeedPacket.h"
#include "seeed/SeeedPacketParser.h"
#include "seeed/SeeedThreads.h"
#include "seeed/SendQueue.h"
#include "stats/ChannelStats.h"
#include "transmit/CanSendList.h"
#include "views/TarvenixTable.h"
#include "views/TarvenixTrace.h"

namespace {

constexpr uint32_t kInitTimeoutMs = 5000;
constexpr uint32_t kStopTimeoutMs = 500;
constexpr uint32_t kFailedStartStopMs = 5;

} // namespace

TSeeedManager::TSeeedManager(const TSeeedManagerOptions& options)
    : Port(std::make_unique<tcm::TSerialPort>()), Logger(std::make_unique<TLogger>()),
      Settings(std::make_unique<TCanSettings>()), Trace(std::make_unique<TTarvenixTraceList>()),
      Table(std::make_unique<TTarvenixTable>()), Stats(std::make_unique<TChannelStats>())
{
    Trace->SetLogger(Logger.get()); // a failing cache file is told in the log
    SendList = std::make_unique<TCanSendList>();
    SendList->NameSuffix = "seed";
    if (options.SendListFile && options.SendListFile->empty()) {
        SendList->SetPersistent(false);
    } else {
        if (options.SendListFile)
            SendList->SetFileName(*options.SendListFile);
        // An unreadable file must not keep the adapter from being created: the
        // items read so far stay, and the owner shows the reason.
        try {
            SendList->LoadFromFile();
        } catch (const std::exception& e) {
            // The list never saves over a file it could not read.
            LoadError = std::string(e.what()) + ". Changes to the transmit list will not be saved to this file.";
            Logger->Add(LoadError);
        }
        for (const std::string& notice : {SendList->LeftAloneNotice(), SendList->RejectedLinesNotice()}) {
            if (notice.empty())
                continue;
            Logger->Add(notice);
            LoadNotice += (LoadNotice.empty() ? "" : "\n") + notice;
        }
    }
    SendList->SetOnSend([this](const TCanFrame& frame) { return QueueFrame(frame); });
    SendList->SetOnSaveError([this](const std::string& text) {
        if (OnSaveError)
            OnSaveError(text);
    });
    SendQueue = std::make_unique<TSendQueue>();
    Parser = std::make_unique<TSeeedPacketParser>();
}

TSeeedManager::~TSeeedManager()
{
    // Nothing may still run: the owner stopped the channel. Threads left over
    // from a failed start are ended here all the same.
    StopThreads();
    SendQueue.reset();
    Parser.reset();
    Trace.reset();
    Table.reset();
    // The transmit list saves itself as it is destroyed; a failure goes to OnSaveError.
    SendList.reset();
    Logger.reset();
    Settings.reset();
}

bool TSeeedManager::OpenPort(const std::string& portName)
{
    using tcm::TSerialPort;
    const TSerialPort::TOpenResult result = Port->Open(portName);
    LastErrorNumber = result == TSerialPort::TOpenResult::Ok ? 0 : Port->LastError();
    if (result == TSerialPort::TOpenResult::OpenFailed) {
        LastError = "Opening port is failed!\rPort: " + portName + ", ErrorCode: " + std::to_string(Port->LastError());
        return false;
    }
    if (result == TSerialPort::TOpenResult::ConfigureFailed) {
        LastError = "Setting of port parameters is failed!\rErrorCode: " + std::to_string(Port->LastError());
        return false;
    }
    SetFault(TChannelFault::None, 0);
    PortOpen = true;
    return true;
}

void TSeeedManager::ClosePort()
{
    if (!PortOpen)
        return;
    Port->Close();
    PortOpen = false;
    SetFault(TChannelFault::None, 0);
}

bool TSeeedManager::Start()
{
    Logger->Add("** Start");
    SendQueue->Clear(); // frames queued while stopped are never sent
    StopThreads();
    Parser->Reset();

    ReadThread = std::make_unique<TSeeedThreadRead>(Port.get(), true);
    ReadThread->Logger = Logger.get();
    ReadThread->Parser = Parser.get();
    ReadThread->Table = Table.get();
    ReadThread->Stats = Stats.get();
    ReadThread->OnReadFailed = [this](int error) { SetFault(TChannelFault::PortLost, error); };
    ReadThread->Resume();
    Table->SetOnRequest([read = ReadThread.get()] { read->WakeUp(); });

    bool succeeded = false;
    {
        auto init = std::make_unique<TSeeedThreadTaskInit>(Port.get(), true);
        init->Logger = Logger.get();
        init->Parser = Parser.get();
        init->Settings = Settings.get();
        init->Resume();
        if (init->WaitFor(kInitTimeoutMs))
            succeeded = init->Succeeded();
    } // freeing waits for the end

    if (!succeeded) {
        ReadThread->StopAndWait(kFailedStartStopMs);
        return false;
    }

    // Every frame that goes into the trace from here on is in the statistics.
    Stats->Start(Settings->Rate, &Parser->FrameClock());
    Parser->SetOnFrame([this](const TCanFrame& frame) { FrameReceived(frame); });

    TaskThread = std::make_unique<TSeeedThreadTask>(Port.get(), true);
    TaskThread->Logger = Logger.get();
    TaskThread->Trace = Trace.get();
    TaskThread->Stats = Stats.get();
    TaskThread->SendQueue = SendQueue.get();
    TaskThread->Clock = &Parser->FrameClock();
    TaskThread->OnWriteFailed = [this](int error, bool gone) {
        SetFault(gone ? TChannelFault::PortLost : TChannelFault::NotResponding, error);
    };
    TaskThread->Resume();

    Running.store(true);
    return true;
}

void TSeeedManager::Stop()
{
    Logger->Add("** Stop");
    const bool wasRunning = Running.exchange(false);
    StopThreads();
    if (wasRunning)
        Stats->Stop();
}

void TSeeedManager::StopThreads()
{
    // The writer ends before the reader.
    if (TaskThread) {
        TaskThread->StopAndWait(kStopTimeoutMs);
        TaskThread.reset();
    }
    if (ReadThread) {
        Table->SetOnRequest(nullptr);
        ReadThread->StopAndWait(kStopTimeoutMs);
        ReadThread.reset();
    }
}

void TSeeedManager::GetSupportedRates(std::vector<int32_t>& rates) const
{
    rates.assign(kSeeedRates.begin(), kSeeedRates.end());
}

void TSeeedManager::SetFault(TChannelFault fault, int error)
{
    const uint64_t state = (static_cast<uint64_t>(fault) << 32) | static_cast<uint32_t>(error);
    if (fault == TChannelFault::None) {
        FaultState.store(0);
        return;
    }
    uint64_t none = 0; // the first fault is the one reported
    FaultState.compare_exchange_strong(none, state);
}

bool TSeeedManager::QueueFrame(const TCanFrame& frame)
{
    if (GetFault() != TChannelFault::None) {
        Stats->CountNotTaken();
        return false;
    }
    auto copy = std::make_unique<TCanFrame>();
    copy->Assign(frame);
    SendQueue->Push(std::move(copy));
    return true;
}

void TSeeedManager::FrameReceived(const TCanFrame& frame)
{
    Trace->AddFrame(frame, false);
    Stats->Add(frame, false);
    if (!Running.load())
        return;
    Table->AddFrame(frame);
    if (frame.Request)
        SendList->SendOnRequest();
}

int32_t TSeeedManager::QueuedFrames() const
{
    return SendQueue->Count();
}

bool TSeeedManager::WaitQueueEmpty(uint32_t timeoutMs) const
{
    return SendQueue->WaitEmpty(timeoutMs);
}
