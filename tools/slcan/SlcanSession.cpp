#include "SlcanSession.h"

#include <cstdint>
#include <utility>

#include "Version.h"
#include "core/CanText.h"

namespace {

constexpr char kOk = '\r';
constexpr char kError = '\a';

// Exactly `count` hex digits from `pos`.
bool ParseHex(const std::string& text, size_t pos, size_t count, uint32_t& value)
{
    return pos + count <= text.size() && ParseHexField(std::string_view(text).substr(pos, count), count, value);
}

void AppendTwoDigits(std::string& out, int value)
{
    out += static_cast<char>('0' + (value / 10) % 10);
    out += static_cast<char>('0' + value % 10);
}

} // namespace

const int32_t TSlcanSession::kSpeeds[9] = {10000, 20000, 50000, 100000, 125000, 250000, 500000, 800000, 1000000};

TSlcanSession::TSlcanSession(int32_t rate) : BitRate(rate)
{
    // Address space only: pages are touched as frames are held.
    Polled.reserve(kMaxPolled * kMaxFrameLine);
}

void TSlcanSession::Feed(const uint8_t* data, size_t size, std::string& out)
{
    for (size_t i = 0; i < size; ++i) {
        const char c = static_cast<char>(data[i]);
        if (c == '\r') {
            if (LineTooLong)
                out += kError;
            else
                Execute(Line, out);
            Line.clear();
            LineTooLong = false;
        } else if (c == '\n') {
            // Some clients end their lines with CR LF: the LF carries nothing.
        } else if (!LineTooLong) {
            if (Line.size() >= kMaxLine) {
                LineTooLong = true;
                Line.clear();
            } else {
                Line += c;
            }
        }
    }
}

void TSlcanSession::Execute(const std::string& line, std::string& out)
{
    if (line.empty()) {
        out += kOk; // a bare CR, as clients send to clear the device's input
        return;
    }
    const bool single = line.size() == 1;
    bool ok = false;
    switch (line[0]) {
    case 'S':
        if (line.size() == 2 && !Open && line[1] >= '0' && line[1] <= '8') {
            BitRate = kSpeeds[line[1] - '0'];
            ok = true;
        }
        break;
    case 'O':
    case 'L': // the adapter has no listen-only mode: L opens as O does
        if (single && !Open && OnOpen && OnOpen(BitRate)) {
            Open = true;
            Overrun = false;
            ok = true;
        }
        break;
    case 'C':
        if (single && Open) {
            if (OnClose)
                OnClose();
            Open = false;
            ForgetPolled();
            ok = true;
        }
        break;
    case 't':
    case 'T':
    case 'r':
    case 'R':
        if (SendCommand(line, out))
            return;
        break;
    case 'F':
        if (single && Open) {
            uint32_t flags = Overrun ? 0x08 : 0;
            if (PolledLines >= kMaxPolled)
                flags |= 0x01;
            if (Unsent)
                flags |= 0x02;
            Overrun = false;
            Unsent = false;
            out += 'F';
            AppendHex(out, flags, 2);
            ok = true;
        }
        break;
    case 'V': // hardware 1.0, software major.minor of this program
        if (single) {
            out += "V10";
            out += static_cast<char>('0' + TCM_VERSION_MAJOR % 10);
            out += static_cast<char>('0' + (TCM_VERSION_MINOR / 10) % 10);
            ok = true;
        }
        break;
    case 'v':
        if (single) {
            out += 'v';
            AppendTwoDigits(out, TCM_VERSION_MAJOR);
            AppendTwoDigits(out, TCM_VERSION_MINOR);
            ok = true;
        }
        break;
    case 'N':
        if (single) {
            out += "NSEED";
            ok = true;
        }
        break;
    case 'Z':
        ok = SetFlag(line, Stamps);
        break;
    case 'X':
        ok = SetFlag(line, AutoPoll);
        break;
    case 'W': {
        // Filter mode and acceptance code and mask are checked and answered;
        // the adapter has no acceptance filter, so every frame still passes.
        bool singleFilter = false;
        ok = SetFlag(line, singleFilter);
        break;
    }
    case 'M':
    case 'm': {
        uint32_t value = 0;
        ok = line.size() == 9 && !Open && ParseHex(line, 1, 8, value);
        break;
    }
    case 'P':
        if (single && Open && !AutoPoll) {
            if (PolledLines > 0) {
                const size_t end = Polled.find('\r', PolledFrom);
                TakePolled(end + 1 - PolledFrom, 1, out); // the line ends with its own CR
                return;
            }
            ok = true;
        }
        break;
    case 'A':
        if (single && Open && !AutoPoll) {
            // As many whole lines as the output has room for, keeping room
            // for the closing "A" and CR.
            const size_t room = Room() > 2 ? Room() - 2 : 0;
            size_t bytes = 0;
            size_t lines = 0;
            while (lines < PolledLines) {
                const size_t end = Polled.find('\r', PolledFrom + bytes) + 1 - PolledFrom;
                if (end > room)
                    break;
                bytes = end;
                ++lines;
            }
            TakePolled(bytes, lines, out);
            out += 'A';
            ok = true;
        }
        break;
    default:
        break;
    }
    out += ok ? kOk : kError;
}

bool TSlcanSession::SetFlag(const std::string& line, bool& flag)
{
    if (line.size() != 2 || Open || (line[1] != '0' && line[1] != '1'))
        return false;
    flag = line[1] == '1';
    return true;
}

bool TSlcanSession::SendCommand(const std::string& line, std::string& out)
{
    const bool extended = line[0] == 'T' || line[0] == 'R';
    const bool remote = line[0] == 'r' || line[0] == 'R';
    const size_t idDigits = extended ? 8 : 3;
    uint32_t id = 0;
    if (!ParseHex(line, 1, idDigits, id) || id > (extended ? 0x1FFFFFFFu : 0x7FFu))
        return false;
    const size_t lengthAt = 1 + idDigits;
    if (line.size() <= lengthAt || line[lengthAt] < '0' || line[lengthAt] > '8')
        return false;
    const int length = line[lengthAt] - '0';
    const size_t dataDigits = remote ? 0 : static_cast<size_t>(length) * 2;
    if (line.size() != lengthAt + 1 + dataDigits || !Open)
        return false;

    TCanFrame frame;
    frame.Id = id;
    frame.Length = length;
    frame.Request = remote;
    frame.Standard = !extended;
    for (int i = 0; i < length && !remote; ++i) {
        uint32_t byte = 0;
        if (!ParseHex(line, lengthAt + 1 + static_cast<size_t>(i) * 2, 2, byte))
            return false;
        frame.Data[i] = static_cast<uint8_t>(byte);
    }
    if (!OnSend || !OnSend(frame))
        return false;
    out += extended ? "Z\r" : "z\r";
    return true;
}

bool TSlcanSession::FrameReceived(const TCanFrame& frame, std::string& out)
{
    if (!Open)
        return false;
    if (AutoPoll) {
        AppendFrameLine(out, frame, Stamps);
        return true;
    }
    if (PolledLines >= kMaxPolled) {
        Overrun = true;
        return false;
    }
    if (Polled.size() + kMaxFrameLine > Polled.capacity()) {
        // Lets go of the taken part rather than moving to a larger block.
        Polled.erase(0, PolledFrom);
        PolledFrom = 0;
    }
    const size_t before = Polled.size();
    AppendFrameLine(Polled, frame, Stamps);
    if (Polled.size() - PolledFrom > Room()) {
        Polled.resize(before);
        Overrun = true;
        return false;
    }
    ++PolledLines;
    return true;
}

size_t TSlcanSession::Room() const
{
    return OutputRoom ? OutputRoom() : SIZE_MAX;
}

void TSlcanSession::TakePolled(size_t bytes, size_t lines, std::string& out)
{
    out.append(Polled, PolledFrom, bytes);
    PolledFrom += bytes;
    PolledLines -= lines;
    if (PolledFrom == Polled.size())
        ForgetPolled();
    else if (PolledFrom > Polled.size() / 2)
        Polled.erase(0, std::exchange(PolledFrom, 0));
}

void TSlcanSession::ForgetPolled()
{
    LetGo += PolledLines;
    Polled.clear(); // keeps the block
    PolledFrom = 0;
    PolledLines = 0;
}

void TSlcanSession::AppendFrameLine(std::string& out, const TCanFrame& frame, bool timeStamp)
{
    // A standard frame whose identifier does not fit 11 bits keeps its value
    // in the extended form rather than losing bits.
    const bool standard = frame.Standard && frame.Id <= 0x7FF;
    const int length = CanDataBytes(frame.Length);
    if (frame.Request)
        out += standard ? 'r' : 'R';
    else
        out += standard ? 't' : 'T';
    AppendHex(out, standard ? frame.Id : (frame.Id & 0x1FFFFFFF), standard ? 3 : 8);
    out += static_cast<char>('0' + length);
    if (!frame.Request)
        AppendDataBytes(out, frame.Data, length, '\0');
    if (timeStamp)
        AppendHex(out, frame.Time % 60000, 4); // milliseconds, wrapping each minute
    out += kOk;
}
