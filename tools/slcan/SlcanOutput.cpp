#include "SlcanOutput.h"

namespace {

bool EndsLine(char c)
{
    return c == '\r' || c == '\a';
}

} // namespace

void TSlcanOutput::Bound()
{
    // The last written byte stays, telling whether a line has begun to go out.
    if (Start > 1 && Bytes.size() > MaxUnwritten) {
        Bytes.erase(0, Start - 1);
        Start = 1;
    }
    if (Unwritten() <= MaxUnwritten)
        return;
    const size_t from = FirstWholeLine();
    const size_t target = MaxUnwritten - MaxUnwritten / 8;
    size_t cut = from;
    while (cut < Bytes.size() && Bytes.size() - Start - (cut - from) > target)
        cut = DropLine(cut);
    Bytes.erase(from, cut - from);
}

void TSlcanOutput::DropUnwritten()
{
    for (size_t at = FirstWholeLine(); at < Bytes.size();)
        at = DropLine(at);
    Bytes.clear();
    Start = 0;
}

size_t TSlcanOutput::FirstWholeLine() const
{
    // The rest of a line the client has begun to read stays whole.
    size_t from = Start;
    if (from > 0 && !EndsLine(Bytes[from - 1]))
        while (from < Bytes.size() && !EndsLine(Bytes[from++])) {}
    return from;
}

size_t TSlcanOutput::DropLine(size_t at)
{
    const char first = Bytes[at];
    while (at < Bytes.size() && !EndsLine(Bytes[at++])) {}
    if (first == 't' || first == 'T' || first == 'r' || first == 'R')
        ++Frames;
    else
        ++Answers;
    return at;
}

void TSlcanOutput::Flush(const std::function<int(const char* data, size_t size)>& write)
{
    while (Start < Bytes.size()) {
        const int n = write(Bytes.data() + Start, Bytes.size() - Start);
        if (n <= 0)
            break; // full (or failing): the rest waits for the next round
        Start += static_cast<size_t>(n);
    }
    if (Start == Bytes.size()) {
        Bytes.clear();
        Start = 0;
    } else if (Start > (1u << 20) && Start * 2 > Bytes.size()) {
        Bytes.erase(0, Start);
        Start = 0;
    }
}
