#include "signals/DbcReader.h"

#include <fstream>
#include <sstream>

#include "signals/DbcParser.h"

TDbcDatabase ReadDbcText(std::string_view text)
{
    // A file that is not UTF-8 is taken as Windows-1252, which gives every
    // byte a meaning; the database holds UTF-8 either way.
    if (IsValidUtf8(text))
        return TDbcParser(text).Run();
    const std::string converted = Windows1252ToUtf8(text);
    TDbcDatabase db = TDbcParser(converted).Run();
    db.Encoding = TDbcEncoding::Windows1252;
    return db;
}

bool LoadDbcFile(const std::string& path, TDbcDatabase& database, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path;
        return false;
    }
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad()) {
        error = "cannot read " + path;
        return false;
    }
    database = ReadDbcText(content.str());
    return true;
}

std::string DbcProblemReport(const TDbcDatabase& database, const std::string& fileName, size_t maxLines)
{
    std::string report;
    size_t shown = 0;
    for (const auto& problem : database.Problems) {
        if (shown == maxLines) {
            report += fileName + ": " + std::to_string(database.Problems.size() - shown) + " more problems not shown\n";
            break;
        }
        report += fileName + (problem.Line > 0 ? ":" + std::to_string(problem.Line) : std::string()) + ": ";
        AppendDbcPrintable(report, problem.Text);
        report += '\n';
        ++shown;
    }
    return report;
}
