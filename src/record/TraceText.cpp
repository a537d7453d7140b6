// Plain text: each frame as the trace view shows its line, one per line.
#include "record/RecordIo.h"
#include "views/TarvenixTrace.h"

namespace tcm::recording {
namespace {

class TTraceTextWriter final : public TRecordWriter {
public:
    TTraceTextWriter(int fd, const std::string& name) : Out(fd, name) {}
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

} // namespace

std::unique_ptr<TRecordWriter> CreateTraceTextWriter(int fd, const std::string& name)
{
    return std::make_unique<TTraceTextWriter>(fd, name);
}

} // namespace tcm::recording
