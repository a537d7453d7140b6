#include "adapter/ComPortList.h"

#include <algorithm>
#include <string_view>

namespace {

struct TSplitName {
    std::string_view Stem;
    std::string_view Digits; // trailing digits without leading zeros; empty for 0
    bool HasNumber;
};

TSplitName Split(const std::string& name)
{
    size_t start = name.size();
    while (start > 0 && name[start - 1] >= '0' && name[start - 1] <= '9')
        --start;
    const std::string_view whole(name);
    TSplitName result{whole.substr(0, start), whole.substr(start), start < name.size()};
    while (!result.Digits.empty() && result.Digits.front() == '0')
        result.Digits.remove_prefix(1);
    return result;
}

// Compares two decimal numbers given as digit strings without leading zeros,
// of any length.
int CompareNumbers(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    const int c = a.compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

} // namespace

int TComPortList::CompareStrings(const std::string& a, const std::string& b)
{
    const TSplitName sa = Split(a);
    const TSplitName sb = Split(b);
    const int stem = sa.Stem.compare(sb.Stem);
    if (stem != 0)
        return stem < 0 ? -1 : 1;
    if (sa.HasNumber != sb.HasNumber)
        return sa.HasNumber ? 1 : -1;
    return CompareNumbers(sa.Digits, sb.Digits);
}

bool TComPortList::Add(const std::string& name)
{
    const auto at =
        std::lower_bound(Names.begin(), Names.end(), name, [](const std::string& listed, const std::string& added) {
            return CompareStrings(listed, added) < 0;
        });
    if (at != Names.end() && CompareStrings(*at, name) == 0)
        return false;
    Names.insert(at, name);
    return true;
}

int32_t TComPortList::IndexOf(const std::string& name) const
{
    const auto at =
        std::lower_bound(Names.begin(), Names.end(), name, [](const std::string& listed, const std::string& wanted) {
            return CompareStrings(listed, wanted) < 0;
        });
    if (at != Names.end() && CompareStrings(*at, name) == 0)
        return static_cast<int32_t>(at - Names.begin());
    return -1;
}

TComPortListManager::TComPortListManager(std::unique_ptr<TComPortSource> source) : Source(std::move(source)) {}

TComPortListManager::~TComPortListManager() = default;

bool TComPortListManager::IsAcceptedPortName(const std::string& name)
{
    const std::string_view n(name);
    return n.starts_with("COM") || n.starts_with("tty") || n.starts_with("/dev/");
}

void TComPortListManager::Log(const std::string& line) const
{
    if (OnLog)
        OnLog(line);
}

void TComPortListManager::UpdateList()
{
    Log("TComPortListManager.UpdateList");
    List.Clear();
    if (!Source)
        return;
    for (const TComPortSource::TDevice& device : Source->PresentDevices()) {
        if (!device.FriendlyNameOk) {
            Log("Error of getting friendly name. Error = " + std::to_string(device.FriendlyNameError));
            continue;
        }
        Log("Friendly name: " + device.FriendlyName);
        if (!device.PortNameOk)
            continue;
        // The name and its terminator must fit the fixed buffer; a longer
        // name (or one with an embedded zero) is not a usable port name.
        if (device.PortName.size() >= kPortNameBuffer || device.PortName.find('\0') != std::string::npos)
            continue;
        Log("PortName: " + device.PortName);
        if (IsAcceptedPortName(device.PortName))
            List.Add(device.PortName);
    }
}
