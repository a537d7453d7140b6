#include "DumpOutput.h"

#include <stdexcept>

#include "views/TarvenixTrace.h"

bool TDumpOutput::Open(const TDumpRecordingOptions& options, std::string& error)
{
    Filters = options.Filters;
    int fd = 1;
    std::string name = "standard output";
    if (options.Output != "-") {
        if (!File.Open(options.Output, error))
            return false;
        fd = File.Fd();
        name = options.Output;
    }
    if (options.Format == TRecordFormat::Trace)
        Text = std::make_unique<tcm::recording::TFdOutput>(fd, name);
    else
        Writer = CreateRecordWriter(options.Format, fd, name);
    return true;
}

bool TDumpOutput::Consume(TTarvenixTraceList& trace, long frameLimit)
{
    bool reached = false;
    for (const int32_t total = trace.Count(); Next < total && !reached;) {
        const TTarvenixTraceItem* item = trace.Item(Next++);
        if (item == nullptr)
            continue;
        ++(item->Outgoing ? FramesOut : FramesIn);
        const TRecordFrame frame = MakeRecordFrame(trace, *item);
        if (!Filters.Passes(frame.Frame))
            continue;
        if (Text) {
            std::string& out = Text->Bytes();
            item->AppendLine(out);
            out += '\n';
            if (ExtraLines)
                ExtraLines(*item, out);
            Text->DrainIfFull();
        } else {
            Writer->Write(frame);
        }
        ++Written;
        if (!item->Outgoing && ++WrittenIn == frameLimit)
            reached = true;
    }
    // Everything before Next has been written: its memory can go.
    trace.ReleaseBefore(Next);
    return reached;
}

void TDumpOutput::Flush()
{
    if (Text)
        Text->Drain();
    else
        Writer->Flush();
}

void TDumpOutput::Finish()
{
    if (Text)
        Text->Drain();
    else
        Writer->Finish();
    std::string error;
    if (!File.Close(error))
        throw std::runtime_error(error);
}
