#include "DbcSignalLines.h"

#include "views/TarvenixTrace.h"

bool TDbcSignalLines::Load(const std::string& path, std::string& error, std::FILE* warnings)
{
    if (!LoadDbcFile(path, Database, error))
        return false;
    if (!Database.Problems.empty())
        std::fputs(DbcProblemReport(Database, path).c_str(), warnings);
    IsLoaded = true;
    return true;
}

void TDbcSignalLines::Append(const TTarvenixTraceItem& item, std::string& out)
{
    if (!IsLoaded || item.Request)
        return;
    const TDbcMessage* message = Database.Find(item.Id, !item.Standard);
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
