#include "platform/DebugOutput.h"

#include <syslog.h>

namespace tcm {

void DebugOutput(const std::string& text)
{
    // "%s" so that a '%' in the text is printed, not interpreted.
    syslog(LOG_USER | LOG_DEBUG, "%s", text.c_str());
}

} // namespace tcm
