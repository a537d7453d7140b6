#include "ExtcapQuery.h"

#include "Version.h"
#include "adapter/ComPortList.h"
#include "adapter/QtComPortSource.h"
#include "core/CanRateList.h"
#include "seeed/SeeedPacket.h"

namespace extcap {

const char* const kInterface = "tarvenix_seeed";

void PrintInterfaces(std::FILE* out)
{
    std::fprintf(out, "extcap {version=%d.%d.%d}{display=TarvenixCanMonitor Seeed USB-CAN capture}\n",
                 TCM_VERSION_MAJOR, TCM_VERSION_MINOR, TCM_VERSION_PATCH);
    std::fprintf(out, "interface {value=%s}{display=Seeed USB-CAN adapter (TarvenixCanMonitor)}\n", kInterface);
}

void PrintDlts(std::FILE* out)
{
    std::fprintf(out, "dlt {number=%d}{name=CAN_SOCKETCAN}{display=CAN frames (SocketCAN)}\n", kLinkType);
}

void PrintConfig(std::FILE* out, const std::vector<std::string>& ports)
{
    // The port: a choice among the ports found, or a typed path (a simulated
    // adapter's /dev/pts/N is never listed). Wireshark 4.0 has no editable
    // choice, so the typed path is an option of its own and wins when given.
    std::fprintf(out, "arg {number=0}{call=--port}{display=Port}{type=selector}"
                      "{tooltip=Serial port of the adapter, as the port list finds it}{group=Adapter}\n");
    for (size_t i = 0; i < ports.size(); ++i)
        std::fprintf(out, "value {arg=0}{value=%s}{display=%s}%s\n", ports[i].c_str(), ports[i].c_str(),
                     i == 0 ? "{default=true}" : "");
    std::fprintf(out, "arg {number=1}{call=--port-path}{display=Port path}{type=string}"
                      "{tooltip=A port not in the list, such as /dev/pts/3; used instead of the choice above}"
                      "{group=Adapter}\n");
    std::fprintf(out, "arg {number=2}{call=--rate}{display=Bit rate}{type=selector}"
                      "{tooltip=CAN bit rate of the channel}{group=Adapter}\n");
    for (const int32_t rate : kSeeedRates)
        std::fprintf(out, "value {arg=2}{value=%d}{display=%s}%s\n", rate,
                     TCanRateItem(static_cast<uint32_t>(rate)).GetLabel().c_str(),
                     rate == 250000 ? "{default=true}" : "");
    std::fprintf(out, "arg {number=3}{call=--extended}{display=Extended mode (29-bit identifiers)}{type=boolflag}"
                      "{default=false}{tooltip=The adapter's Extended mode instead of Standard}{group=Adapter}\n");
}

std::vector<std::string> FindPorts()
{
    TComPortListManager manager(std::make_unique<TQtComPortSource>());
    manager.UpdateList();
    return manager.List.Strings();
}

} // namespace extcap
