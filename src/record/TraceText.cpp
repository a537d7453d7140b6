// Plain text: each frame as the trace view shows its line, one per line.
#include "record/RecordIo.h"
#include "views/TarvenixTrace.h"

namespace tcm::recording {
namespace {

class TTraceTextWriter final : public TRecordWriter {
public:
    TTraceTextWriter(int fd, const std::string& name) : Out(fd, name) { Out.SetLineRecords(); }
    void Write(const TRecordFrame& r) override
    {
        std::string& b = Out.Bytes();
        b += TTarvenixTraceItem(r.Frame, r.Outgoing).FormatLine();
        b += '\n';
        Out.DrainIfFull();
    }
    void Flush() override { Out.Drain(); }
    void Finish() override { Out.Drain(); }

private:
    TFdOutput Out;
};

std::unique_ptr<TRecordWriter> CreateWriter(int fd, const std::string& name, const TRecordWriterOptions&)
{
    return std::make_unique<TTraceTextWriter>(fd, name);
}

} // namespace

extern const TRecordFormatEntry kFormatTrace = {TRecordFormat::Trace, "trace", "Trace lines", ".txt", nullptr, nullptr,
                                                CreateWriter};

} // namespace tcm::recording
