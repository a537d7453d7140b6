#include "DumpCsv.h"

#include <stdexcept>

#include "plot/PlotCsv.h"
#include "record/RecordFormat.h"

bool TDumpCsv::Open(const std::string& path, const std::string& signalNames, const TDbcDatabase& db, std::string& error)
{
    std::vector<std::string> names;
    for (size_t start = 0; start <= signalNames.size();) {
        const size_t comma = std::min(signalNames.find(',', start), signalNames.size());
        if (comma > start)
            names.push_back(signalNames.substr(start, comma - start));
        start = comma + 1;
    }
    if (names.empty()) {
        error = "--signals names no signal";
        return false;
    }
    if (!FindPlotSources(db, names, Sources, error))
        return false;
    if (path != "-" && !File.Open(path, error))
        return false;
    Out = std::make_unique<tcm::recording::TFdOutput>(path == "-" ? 1 : File.Fd(),
                                                      path == "-" ? "standard output" : path);
    Out->SetLineRecords();
    // A signal of the same name in several messages gets its message's name too.
    std::vector<std::string> header;
    for (const TPlotSource& source : Sources) {
        size_t sameName = 0;
        for (const TPlotSource& other : Sources)
            sameName += other.Signal().Name == source.Signal().Name ? 1 : 0;
        header.push_back(sameName > 1 ? source.Name() : source.Signal().Name);
    }
    Out->Bytes() = PlotCsvHeader(header);
    Row.resize(Sources.size());
    return true;
}

void TDumpCsv::Add(const TRecordFrame& record)
{
    const TCanFrame& frame = record.Frame;
    if (!HaveOrigin) {
        HaveOrigin = true;
        OriginUs = record.WallUs;
    }
    if (frame.Request)
        return;
    bool any = false;
    TDbcDecoded decoded;
    for (size_t i = 0; i < Sources.size(); ++i) {
        Row[i].clear();
        if (Sources[i].Decode(frame.Id, !frame.Standard, frame.Data, CanDataBytes(frame.Length), decoded)) {
            Row[i] = FormatDbcValue(decoded);
            any = true;
        }
    }
    if (!any)
        return;
    std::string& out = Out->Bytes();
    AppendCsvSeconds(out, record.WallUs - OriginUs);
    for (const std::string& value : Row) {
        out += ',';
        out += value;
    }
    out += '\n';
    Out->DrainIfFull();
}

void TDumpCsv::Flush()
{
    Out->Drain();
}

void TDumpCsv::Finish()
{
    Out->Drain();
    std::string error;
    if (!File.Close(error))
        throw std::runtime_error(error);
}
