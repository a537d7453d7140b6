#include "adapter/AdapterSeeed.h"

const TAdapterKind CAdapterSeeed::Kind = {"Seeed", &CAdapterSeeed::CreateInstance};

CAdapterSeeed::CAdapterSeeed() : CAdapterSeeed(TSeeedManagerOptions{}) {}

CAdapterSeeed::CAdapterSeeed(const TSeeedManagerOptions& options)
    : CAdapterSerial(SilentCreate{}), Manager(std::make_unique<TSeeedManager>(options))
{
    Manager->OnSaveError = [this](const std::string& text) {
        if (OnFileError)
            OnFileError(text);
    };
}

CAdapterSeeed::~CAdapterSeeed()
{
    Manager->Stop();
    Manager->ClosePort();
    Manager.reset();
}

TCanSendList* CAdapterSeeed::GetSendList(int32_t)
{
    return Manager->GetSendList();
}
TLogger* CAdapterSeeed::GetLogger(int32_t)
{
    return Manager->GetLogger();
}
TCanSettings* CAdapterSeeed::GetSettings(int32_t)
{
    return Manager->GetSettings();
}
TTarvenixTraceList* CAdapterSeeed::GetTrace(int32_t)
{
    return Manager->GetTrace();
}
TTarvenixTable* CAdapterSeeed::GetTable(int32_t)
{
    return Manager->GetTable();
}
TChannelStats* CAdapterSeeed::GetStats(int32_t)
{
    return Manager->GetStats();
}
bool CAdapterSeeed::IsOpen(int32_t) const
{
    return Manager->IsPortOpen();
}

bool CAdapterSeeed::Open(int32_t)
{
    if (!Manager->OpenPort(Port)) {
        LastError = Manager->GetLastError();
        LastErrorNumber = Manager->GetLastErrorNumber();
        return false;
    }
    if (!Manager->Start()) {
        LastError = "Adapter initialization failed";
        LastErrorNumber = 0;
        Manager->Stop();
        Manager->ClosePort();
        return false;
    }
    return true;
}

void CAdapterSeeed::Close(int32_t)
{
    Manager->Stop();
    Manager->ClosePort();
}

std::string CAdapterSeeed::ChannelFailure(int32_t) const
{
    const std::string error = std::to_string(Manager->GetFaultError());
    switch (Manager->GetFault()) {
    case TChannelFault::PortLost:
        return "Connection to the adapter on " + Port + " was lost (error " + error + "). The channel was closed.";
    case TChannelFault::NotResponding:
        return "The adapter on " + Port + " does not respond (error " + error + "). The channel was closed.";
    case TChannelFault::None:
        break;
    }
    return {};
}

void CAdapterSeeed::GetSupportedRates(std::vector<int32_t>& rates) const
{
    Manager->GetSupportedRates(rates);
}
