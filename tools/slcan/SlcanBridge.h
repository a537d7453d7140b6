#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "SlcanOutput.h"
#include "SlcanSession.h"
#include "ToolChannel.h"
#include "ToolOptions.h"
#include "platform/PseudoTerminal.h"
#include "record/RecordWriter.h"

struct TSlcanOptions {
    TChannelOptions Channel;
    std::string Link;     // a symbolic link to the terminal, or empty
    bool Verbose = false; // every frame (as a trace line) and the engine's log on stderr
    // Every frame on stderr in this recording format (without the log unless Verbose).
    std::optional<TRecordFormat> Format;
};

// The adapter offered as a LAWICEL device on a pseudo-terminal. One thread
// does everything: it reads the client's commands, passes received frames on
// and writes without ever waiting for the client. Answers and frame lines the
// client does not take share one bound of kMaxPending bytes; beyond it the
// oldest are dropped, counted, reported on stderr and (frames) flagged as
// overrun to the client's next F command. Frames held for polling (X0) take
// their room from the same bound as they come. Frames answered z or Z that never
// reach the adapter are counted when the channel closes, reported on stderr
// and flagged to the next F command. Once a client has opened the terminal,
// nobody else may open it (root excepted) until the client closes it.
class TSlcanBridge {
public:
    explicit TSlcanBridge(const TSlcanOptions& options);
    ~TSlcanBridge();
    TSlcanBridge(const TSlcanBridge&) = delete;
    TSlcanBridge& operator=(const TSlcanBridge&) = delete;

    // Checks that the port opens, creates the terminal and the link. False
    // with the reason in `error`.
    bool Start(std::string& error);
    const std::string& TerminalPath() const { return Terminal.SlavePath(); }

    // Serves the client until `stop` says so, then closes the channel, removes
    // the link and closes the terminal.
    void Run(const std::function<bool()>& stop);

    struct TCounts {
        uint64_t FramesIn = 0;       // received frames passed to the client
        uint64_t FramesOut = 0;      // frames sent to the bus
        uint64_t Dropped = 0;        // received frames the client could not be given
        uint64_t AnswersDropped = 0; // answers the client never read
        uint64_t Unsent = 0;         // frames answered z or Z that never reached the adapter
    };
    TCounts Counts() const;

    static constexpr size_t kMaxPending = 4u << 20;
    // Frames waiting for the adapter at most (a second at the link's limit);
    // send commands beyond that are refused with BEL.
    static constexpr int32_t kMaxQueued = 10000;

private:
    bool OpenChannel(int32_t rate);
    void CloseChannel();
    void CloseAndReport();
    void PassFrames();
    bool Send(const TCanFrame& frame);
    void Flush();
    void FlushFrameLog();
    void ReportDrops(bool final);
    void Finish();

    TSlcanOptions Options;
    TToolChannel Channel;
    TSlcanSession Session;
    tcm::TPseudoTerminal Terminal;
    std::unique_ptr<TRecordWriter> FrameLog; // frames on stderr, when asked for
    std::string LinkTarget;
    TSlcanOutput Pending{kMaxPending}; // bytes for the client
    TCounts Count;
    uint64_t Acknowledged = 0; // frames answered z or Z since the channel opened
    uint64_t SentSinceOpen = 0;
    uint64_t DropsReported = 0;
    uint32_t LastDropReport = 0;
};
