#include "adapter/AdapterCustom.h"

#include "core/CanSettings.h"
#include "platform/DebugOutput.h"
#include "platform/FileReplace.h"
#include "platform/IniFile.h"

namespace {

constexpr int32_t kDefaultRate = 250000;
constexpr int32_t kDefaultMode = 0;

// Calls `use(settings, key suffix)` for every channel that has settings, in
// channel order; a one-channel adapter's keys have no suffix.
template <class TUse> void ForEachChannel(CAdapterCustom& adapter, TUse use)
{
    for (int32_t c = 0; c < adapter.GetChannelCount(); ++c)
        if (TCanSettings* settings = adapter.GetSettings(c))
            use(*settings, adapter.IsMultiChannel() ? "_channel" + std::to_string(c) : std::string());
}

} // namespace

CAdapterCustom::CAdapterCustom()
{
    tcm::DebugOutput("CAdapterCustom.create");
}

TCanSendList* CAdapterCustom::GetSendList(int32_t)
{
    return nullptr;
}
TLogger* CAdapterCustom::GetLogger(int32_t)
{
    return nullptr;
}
TCanSettings* CAdapterCustom::GetSettings(int32_t)
{
    return nullptr;
}
TTarvenixTraceList* CAdapterCustom::GetTrace(int32_t)
{
    return nullptr;
}
TChannelStats* CAdapterCustom::GetStats(int32_t)
{
    return nullptr;
}
TTarvenixTable* CAdapterCustom::GetTable(int32_t)
{
    return nullptr;
}
void CAdapterCustom::LoadAdapterSettings(TIniFile&, const std::string&) {}
void CAdapterCustom::SaveAdapterSettings(TIniFile&, const std::string&) {}
bool CAdapterCustom::IsOpen(int32_t) const
{
    return false;
}

bool CAdapterCustom::IsAnyOpen() const
{
    for (int32_t c = 0; c < GetChannelCount(); ++c)
        if (IsOpen(c))
            return true;
    return false;
}

void CAdapterCustom::GetSupportedRates(std::vector<int32_t>& rates) const
{
    rates.clear();
}

void CAdapterCustom::LoadSettings(const std::string& fileName)
{
    // A file that cannot be created is not reported: every value takes its default.
    tcm::RemoveStaleTempFiles(fileName);
    TIniFile::CreateEmptyIfMissing(fileName);
    TIniFile ini(fileName);
    const std::string section = GetName();
    ForEachChannel(*this, [&](TCanSettings& settings, const std::string& suffix) {
        settings.Rate = ini.ReadInteger(section, "CanRate" + suffix, kDefaultRate);
        settings.Extended = (ini.ReadInteger(section, "CanMode" + suffix, kDefaultMode) & 0xFF) != 0;
    });
    LoadAdapterSettings(ini, section);
}

void CAdapterCustom::SaveSettings(const std::string& fileName)
{
    TIniFile::CreateEmptyIfMissing(fileName);
    TIniFile ini(fileName);
    const std::string section = GetName();
    ForEachChannel(*this, [&](TCanSettings& settings, const std::string& suffix) {
        ini.WriteInteger(section, "CanRate" + suffix, settings.Rate);
        ini.WriteInteger(section, "CanMode" + suffix, settings.Extended ? 1 : 0);
    });
    SaveAdapterSettings(ini, section);
}

void CAdapterSerial::LoadAdapterSettings(TIniFile& ini, const std::string& section)
{
    Port = ini.ReadString(section, "Port", "");
}

void CAdapterSerial::SaveAdapterSettings(TIniFile& ini, const std::string& section)
{
    ini.WriteString(section, "Port", Port);
}
