#include "ExtcapCapture.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "ToolChannel.h"
#include "platform/PipeOutput.h"
#include "record/RecordWriter.h"
#include "views/TarvenixTrace.h"

namespace {

constexpr int kIdleLookMs = 20;

// Writes the trace entries not yet written; how many.
int32_t WriteNew(TToolChannel& channel, TRecordWriter& writer)
{
    const int32_t written = channel.FollowTrace([&](const TTarvenixTraceList& trace, const TTarvenixTraceItem& item) {
        writer.Write(MakeRecordFrame(trace, item));
        return true;
    });
    if (written > 0)
        writer.Flush(); // Wireshark shows frames as they come
    return written;
}

} // namespace

int RunCapture(const TCaptureOptions& options)
{
    // The fifo first: Wireshark waits for its writer to open it and would wait
    // for ever if this program ended before, even to report a failure.
    const int fd = tcm::OpenPipeForWriting(options.Fifo, StopRequested);
    if (fd == -EINTR)
        return 0; // ended before a reader came: nothing to capture
    if (fd < 0) {
        std::fprintf(stderr, "Cannot open %s: %s\n", options.Fifo.c_str(), std::strerror(-fd));
        return 1;
    }
    TToolChannel channel(options.Channel.Port, options.Channel.Rate, options.Channel.Extended);
    channel.KeepTotalsOnly(); // Wireshark makes its own statistics
    std::string error;
    if (!channel.Open(error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        tcm::CloseDescriptor(fd);
        return 1;
    }

    int exitCode = 0;
    auto writer = CreateRecordWriter(TRecordFormat::Pcap, fd, options.Fifo);
    try {
        writer->Flush(); // the file header, so that the reader can start
        while (!StopRequested()) {
            if (WriteNew(channel, *writer) == 0 && tcm::IsPipeReaderGone(fd))
                break;
            if (const std::string failure = channel.Failure(); !failure.empty()) {
                std::fprintf(stderr, "%s\n", failure.c_str());
                exitCode = 1;
                break;
            }
            channel.DrainLog(nullptr);
            // Woken by a new frame, Wireshark closing the fifo or a stop
            // signal; a failure of the channel is seen within the time-out.
            channel.WaitForFrames(kIdleLookMs, fd);
        }
    } catch (const std::system_error& e) {
        // The reader closing the fifo is the usual end of a capture.
        if (e.code().value() != EPIPE) {
            std::fprintf(stderr, "%s\n", e.what());
            exitCode = 1;
        }
    }
    channel.Close();
    try {
        // Frames that came while the channel closed, when the reader is still there.
        WriteNew(channel, *writer);
        writer->Finish();
    } catch (const std::system_error&) {
    }
    writer.reset();
    tcm::CloseDescriptor(fd);
    return exitCode;
}
