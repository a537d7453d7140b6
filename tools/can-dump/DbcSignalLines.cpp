#include "DbcSignalLines.h"

#include "views/TarvenixTrace.h"

bool TDbcSignalLines::Load(const std::string& path, std::string& error, std::FILE* warnings)
{
    if (!LoadDbcFile(path, Db, error))
        return false;
    if (!Db.Problems.empty())
        std::fputs(DbcProblemReport(Db, path).c_str(), warnings);
    IsLoaded = true;
    return true;
}

void TDbcSignalLines::Append(const TTarvenixTraceItem& item, std::string& out)
{
    if (!IsLoaded || item.Request)
        return;
    const TDbcMessage* message = Db.Find(item.Id, !item.Standard);
    if (!message)
        return;
    Decoded.clear();
    DecodeDbcFrame(*message, item.Data, item.Length, Decoded);
    for (const auto& d : Decoded) {
        out += "  ";
        out += FormatDbcSignal(d);
        out += '\n';
    }
}
