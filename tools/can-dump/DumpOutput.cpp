#include "DumpOutput.h"

#include <stdexcept>

#include "ToolChannel.h"
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

bool TDumpOutput::Consume(TToolChannel& channel, long frameLimit)
{
    bool reached = false;
    channel.FollowTrace([&](const TTarvenixTraceList& trace, const TTarvenixTraceItem& item) {
        if (reached)
            return false; // left for a later call
        reached = Put(MakeRecordFrame(trace, item), item, frameLimit);
        return true;
    });
    return reached;
}

bool TDumpOutput::Put(const TRecordFrame& frame, const TTarvenixTraceItem& item, long frameLimit)
{
    ++(frame.Outgoing ? FramesOut : FramesIn);
    if (!Filters.Passes(frame.Frame))
        return false;
    if (AlsoTo)
        AlsoTo(frame);
    if (Text) {
        std::string& out = Text->Bytes();
        item.AppendLine(out);
        out += '\n';
        if (ExtraLines)
            ExtraLines(item, out);
        Text->DrainIfFull();
    } else {
        Writer->Write(frame);
    }
    ++Written;
    return !frame.Outgoing && ++WrittenIn == frameLimit;
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
