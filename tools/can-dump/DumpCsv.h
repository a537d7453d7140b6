#pragma once
#include <memory>
#include <string>
#include <vector>

#include "platform/OutputFile.h"
#include "plot/PlotSource.h"
#include "record/RecordIo.h"

struct TRecordFrame;

// The --csv FILE --signals NAME,... output of the headless monitor: "time"
// (seconds since the first frame), then one column per chosen signal, one
// row per frame that carries at least one of them; values as the signal
// lines print them. Write failures raise std::system_error naming the file.
class TDumpCsv {
public:
    // Finds the signals (comma-separated names, see FindPlotSources) and
    // creates the file with its header. False with `error` otherwise.
    bool Open(const std::string& path, const std::string& signalNames, const TDbcDatabase& db, std::string& error);
    void Add(const TRecordFrame& frame);
    void Flush();
    void Finish();

private:
    std::vector<TPlotSource> Sources;
    tcm::TOutputFile File;
    std::unique_ptr<tcm::recording::TFdOutput> Out;
    bool HaveOrigin = false;
    int64_t OriginUs = 0;
    std::vector<std::string> Row; // the value texts of the current frame
};
