#pragma once
#include <cstdio>
#include <string>
#include <vector>

// The answers to Wireshark's extcap queries: which interfaces this program
// offers, which link type they capture and which options the capture takes.
namespace extcap {

// The one interface: it begins with "tarvenix" and holds no character that
// Wireshark changes in preference names, so "-o extcap.tarvenix_seeed.port:..."
// names it as written.
extern const char* const kInterface;
// LINKTYPE_CAN_SOCKETCAN
constexpr int kLinkType = 227;

void PrintInterfaces(std::FILE* out);
void PrintDlts(std::FILE* out);
// `ports`: the serial ports found now, in the port list's order.
void PrintConfig(std::FILE* out, const std::vector<std::string>& ports);

// The serial ports the window's port list finds (Qt's serial port info, no
// display needed).
std::vector<std::string> FindPorts();

} // namespace extcap
