#pragma once
#include <string>

namespace tcm {

// Writes one diagnostic line to the platform's debugger output. On Linux that
// is the system log at LOG_DEBUG (journalctl -p debug shows it); nothing
// appears on the terminal.
void DebugOutput(const std::string& text);

} // namespace tcm
