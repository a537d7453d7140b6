#include "record/RecordFormat.h"
#include "views/TarvenixTrace.h"

TRecordFrame MakeRecordFrame(const TTarvenixTraceList& trace, const TTarvenixTraceItem& item)
{
    TRecordFrame r;
    r.Frame = item.AsFrame();
    r.Outgoing = item.Outgoing;
    r.WallUs = trace.WallTimeUs(item);
    return r;
}
