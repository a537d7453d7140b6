#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// The bytes waiting for the slcan client: answers and frame lines in the order
// they were made. The client may stop reading at any time, so the unwritten
// part is held to one bound: beyond it, the oldest whole lines that have not
// begun to go out are dropped (a line partly written is finished first) and
// counted as frame lines or answers.
class TSlcanOutput {
public:
    // The buffer is reserved once, a quarter above the bound, and Bound() keeps
    // it within that: it is never moved to a larger block, which would hold
    // both copies at once and leave the old size's pages touched.
    explicit TSlcanOutput(size_t maxUnwritten) : MaxUnwritten(maxUnwritten)
    {
        Bytes.reserve(maxUnwritten + maxUnwritten / 4);
    }

    // Where new lines are appended; call Bound() after adding.
    std::string& Text() { return Bytes; }
    size_t Unwritten() const { return Bytes.size() - Start; }

    // Drops the oldest lines while more than the bound waits; down to seven
    // eighths of it, so that a client that never reads costs one move of the
    // buffer per eighth of the bound, not one per line. Also lets go of the
    // written part once the buffer holds more than the bound.
    void Bound();

    // Hands the unwritten bytes to `write` (which returns how many it took, 0
    // when the client's side is full) until it takes no more.
    void Flush(const std::function<int(const char* data, size_t size)>& write);

    // At the end: the lines not begun go nowhere and are counted as dropped.
    void DropUnwritten();

    uint64_t FramesDropped() const { return Frames; }
    uint64_t AnswersDropped() const { return Answers; }

private:
    // Counts the line that begins at `at` as dropped; returns where it ends.
    size_t DropLine(size_t at);
    // Where the first line not begun starts.
    size_t FirstWholeLine() const;

    const size_t MaxUnwritten;
    std::string Bytes;
    size_t Start = 0; // bytes before this were written
    uint64_t Frames = 0;
    uint64_t Answers = 0;
};
