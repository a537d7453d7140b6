#include "SignalFrames.h"

#include <algorithm>

#include "signals/DbcEncoder.h"

bool ComposeSignalFrame(const TDbcDatabase& database, const std::string& request, TCanFrame& frame, std::string& error)
{
    const size_t colon = request.find(':');
    if (colon == std::string::npos) {
        error = "expected Message:Signal=value,...";
        return false;
    }
    const std::string name = request.substr(0, colon);
    const TDbcMessage* message = database.FindByName(name);
    if (!message) {
        error = "no message " + DbcPrintable(name) + " in the database";
        return false;
    }
    std::vector<TDbcAssignment> values;
    if (!ParseDbcAssignments(std::string_view(request).substr(colon + 1), values, error))
        return false;
    frame = TCanFrame{};
    frame.Id = message->Id;
    frame.Standard = !message->Extended;
    frame.Length = static_cast<int32_t>(std::min<uint32_t>(message->Size, 8));
    return EncodeDbcFrame(*message, values, frame.Data, frame.Length, error);
}
