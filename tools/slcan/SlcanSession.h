#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "core/CanGeneral.h"

// The LAWICEL (slcan) device as a client on a serial line sees it: commands
// end with CR; an answer ends with CR on success or is a single BEL on error.
// The session parses what the client writes, keeps the device state and drives
// the channel through handlers; it writes nothing itself, every answer and
// frame line is appended to the output text the caller passes in.
//
// Channel state rules, as on the device: S, Z, X, W, M and m only while closed;
// O and L only while closed; C, F, P, A and the send commands only while open.
class TSlcanSession {
public:
    // Opens the channel at `rate` bit/s; false on failure.
    std::function<bool(int32_t rate)> OnOpen;
    std::function<void()> OnClose;
    // Queues a frame to send; false when it cannot go out (the channel failed).
    std::function<bool(const TCanFrame& frame)> OnSend;
    // Bytes the output may still take before its bound (none set: no bound).
    // Frames held for polling take their room from it as they come, and an A
    // answer carries only the held frames that fit; the rest wait for the next.
    std::function<size_t()> OutputRoom;

    // The longest command (an extended frame with eight data bytes) is 26
    // characters; a line longer than this is refused as a whole.
    static constexpr size_t kMaxLine = 32;

    explicit TSlcanSession(int32_t rate);

    // Feeds bytes from the client; complete commands are carried out at once.
    void Feed(const uint8_t* data, size_t size, std::string& out);

    // A frame from the bus: its line goes to `out` at once (auto poll, the
    // default) or waits for P/A (after X0). False when it could not be kept
    // (closed, or too many frames wait for polling): the next F answer then
    // reports a data overrun.
    bool FrameReceived(const TCanFrame& frame, std::string& out);
    // Frames that could not be passed on (the client does not read): the next
    // F answer reports a data overrun.
    void NoteOverrun() { Overrun = true; }
    // Frames answered z or Z never reached the adapter: the next F answer says
    // so, also when it comes after the channel was closed and opened again.
    void NoteUnsent() { Unsent = true; }
    // The channel closed by itself (the port was lost, the adapter stopped answering).
    void ChannelLost()
    {
        Open = false;
        ForgetPolled();
    }

    bool IsOpen() const { return Open; }
    // Frames held for polling that the client never took: let go when the
    // channel closed or was lost.
    uint64_t HeldFramesLetGo() const { return LetGo; }
    int32_t Rate() const { return BitRate; }

    // The rates of S0 to S8, bit/s.
    static const int32_t kSpeeds[9];
    // The text line of a received frame, as the device reports it.
    static void AppendFrameLine(std::string& out, const TCanFrame& frame, bool timeStamp);

    // Frames kept for polling (X0) at most; more are counted as overrun.
    static constexpr size_t kMaxPolled = 100000;
    // The longest frame line: an extended frame, eight data bytes, a time stamp.
    static constexpr size_t kMaxFrameLine = 31;

private:
    void Execute(const std::string& line, std::string& out);
    bool SendCommand(const std::string& line, std::string& out);
    bool SetFlag(const std::string& line, bool& flag);
    size_t Room() const;
    // Moves the first `bytes` of the held lines (`lines` whole lines) to `out`.
    void TakePolled(size_t bytes, size_t lines, std::string& out);
    void ForgetPolled();

    int32_t BitRate;
    bool Open = false;
    bool Stamps = false;
    bool AutoPoll = true;
    bool Overrun = false;
    bool Unsent = false;
    std::string Line;
    bool LineTooLong = false;
    // Frame lines held for P and A (X0), each ending with CR, in one block
    // reserved once for kMaxPolled of the longest; the first PolledFrom bytes
    // were taken already.
    std::string Polled;
    size_t PolledFrom = 0;
    size_t PolledLines = 0;
    uint64_t LetGo = 0;
};
