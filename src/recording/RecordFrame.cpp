#include <cstring>

#include "recording/RecordFormat.h"
#include "views/TarvenixTrace.h"

TRecordFrame MakeRecordFrame(const TTarvenixTraceList& trace, const TTarvenixTraceItem& item)
{
    TRecordFrame r;
    r.Frame.Id = item.Id;
    r.Frame.Length = item.Length;
    std::memcpy(r.Frame.Data, item.Data, 8);
    r.Frame.Request = item.Request;
    r.Frame.Standard = item.Standard;
    r.Frame.Time = item.Time;
    r.Outgoing = item.Outgoing;
    r.WallUs = trace.WallTimeUs(item);
    return r;
}
