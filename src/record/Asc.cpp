// Vector ASC, the text form Vector's tools, can-utils (log2asc, asc2log) and python-can read:
//     date Tue Nov 14 10:13:20.123 pm 2023
//     base hex  timestamps absolute
//     internal events logged
//     Begin Triggerblock Tue Nov 14 10:13:20.123 pm 2023
//        0.000000 Start of measurement
//        0.012000 1  123             Rx   d 4 DE AD BE EF
//     End TriggerBlock
// Frame times are seconds since the measurement start, which is the first frame's time
// (to the millisecond the date line carries).
#include <ctime>

#include "core/CanText.h"
#include "record/AscDate.h"
#include "record/RecordIo.h"
#include "record/TextFields.h"

namespace tcm::recording {
namespace {

constexpr size_t kMaxLine = 4096;
// Times beyond this after the measurement start (about 3,000 years) are taken for damage.
constexpr int64_t kMaxSpanUs = int64_t(100000) * 1000000 * 1000000;

void AppendSeconds(std::string& out, int64_t us)
{
    const uint64_t u = us < 0 ? 0 : static_cast<uint64_t>(us);
    const uint64_t seconds = u / 1000000;
    for (uint64_t w = 1000; w > 1 && seconds < w; w /= 10)
        out += ' ';
    AppendPadded(out, seconds, 1);
    out += '.';
    AppendPadded(out, u % 1000000, 6);
}

class TAscWriter final : public TRecordWriter {
public:
    TAscWriter(int fd, const std::string& name) : Out(fd, name) { Out.SetLineRecords(); }

    void Write(const TRecordFrame& r) override
    {
        if (!Started)
            Begin((r.WallUs < 0 ? 0 : r.WallUs) / 1000);
        const TCanFrame& f = r.Frame;
        std::string& b = Out.Bytes();
        AppendSeconds(b, r.WallUs - StartMs * 1000);
        b += " 1  ";
        const size_t idAt = b.size();
        AppendHex(b, f.Id & (f.Standard ? 0x7FF : 0x1FFFFFFF), 1);
        if (!f.Standard)
            b += 'x';
        b.append(16 - std::min<size_t>(15, b.size() - idAt), ' ');
        b += r.Outgoing ? "Tx   " : "Rx   ";
        const int length = CanDataBytes(f.Length);
        b += f.Request ? "r " : "d ";
        b += static_cast<char>('0' + length);
        if (!f.Request && length > 0) {
            b += ' ';
            AppendDataBytes(b, f.Data, length, ' ');
        }
        b += '\n';
        Out.DrainIfFull();
    }
    void Flush() override { Out.Drain(); }
    void Finish() override
    {
        if (!Started)
            Begin(int64_t(std::time(nullptr)) * 1000);
        Out.Bytes() += "End TriggerBlock\n";
        Out.Drain();
    }

private:
    void Begin(int64_t startMs)
    {
        Started = true;
        StartMs = startMs;
        std::string& b = Out.Bytes();
        b += "date ";
        AppendAscDate(b, startMs);
        b += "\nbase hex  timestamps absolute\ninternal events logged\nBegin Triggerblock ";
        AppendAscDate(b, startMs);
        b += "\n   0.000000 Start of measurement\n";
    }

    TFdOutput Out;
    bool Started = false;
    int64_t StartMs = 0;
};

class TAscReader final : public TLineRecordReader {
public:
    TAscReader(int fd, bool owned, const std::string& name) : TLineRecordReader(fd, owned, name, kMaxLine) {}

private:
    // Header lines set the reader's state; a frame line fills `out`. Events that are no
    // classic CAN frame are passed over; `what` says why a line is malformed.
    bool TakeLine(const std::string& text, TRecordFrame& out, std::string& what) override
    {
        const size_t first = text.find_first_not_of(" \t");
        if (first == std::string::npos)
            return false;
        const std::string_view line = std::string_view(text).substr(first);
        if (line[0] < '0' || line[0] > '9') {
            Header(line, what);
            return false;
        }
        std::string_view f[16];
        const size_t n = SplitFields(line, f, 16);
        int64_t at = 0;
        if (!ParseSeconds(f[0], at, 10)) {
            what = "time \"" + std::string(f[0].substr(0, 40)) + "\" is not seconds";
            return false;
        }
        if (n >= 2 && f[1] == "CANFD") {
            const bool error = n >= 4 && StartsWithWord(f[3], "ErrorFrame");
            ++(error ? Dropped.Error : Dropped.Fd);
            return false;
        }
        // "<channel> <id> Rx|Tx d|r ..." is a frame; a line with anything else after the time
        // is an event (statistics, status, J1939 transport, system variables) and holds none.
        if (n < 3 || f[1].find_first_not_of("0123456789") != std::string_view::npos)
            return false;
        if (StartsWithWord(f[2], "ErrorFrame")) {
            ++Dropped.Error;
            return false;
        }
        const bool direction = n >= 4 && (f[3] == "Rx" || f[3] == "Tx" || f[3] == "rx" || f[3] == "tx");
        const bool kind = n >= 5 && (f[4] == "d" || f[4] == "r" || f[4] == "D" || f[4] == "R");
        if (!direction && !kind)
            return false;
        if (!Frame(f, n, out.Frame, what))
            return false;
        uint64_t channel = 1;
        ParseDecimal(f[1], channel);
        out.Channel = static_cast<int>(std::min<uint64_t>(channel, 1u << 20));
        out.Outgoing = f[3][0] == 'T' || f[3][0] == 't';
        if (Relative) {
            // Each time counts from the line before; a sum that leaves any plausible span is damage.
            if (at > kMaxSpanUs - Previous) {
                what = "relative time runs beyond " + std::to_string(kMaxSpanUs / 1000000) + " seconds";
                return false;
            }
            Previous += at;
            out.WallUs = StartUs + Previous;
        } else {
            out.WallUs = StartUs + at;
        }
        out.Frame.Time = TickFromWallUs(out.WallUs);
        return true;
    }

    void Header(std::string_view line, std::string& what)
    {
        if (StartsWithWord(line, "date ")) {
            if (const auto ms = ParseAscDate(line.substr(5)); ms && !TriggerDate)
                StartUs = *ms * 1000;
        } else if (StartsWithWord(line, "base ")) {
            std::string_view f[4];
            const size_t n = SplitFields(line, f, 4);
            if (n < 2 || !(f[1] == "hex" || f[1] == "dec")) {
                what = "base is neither hex nor dec";
                return;
            }
            Decimal = f[1] == "dec";
            Relative = n >= 4 && f[3] == "relative";
        } else if (StartsWithWord(line, "Begin Triggerblock")) {
            if (const auto ms = ParseAscDate(line.substr(18)); ms) {
                StartUs = *ms * 1000;
                TriggerDate = true;
            }
            Previous = 0;
        }
        // Comments, "End TriggerBlock", "internal events logged" and other header lines carry no frame.
    }

    bool Number(std::string_view text, uint32_t limit, uint32_t& value) const
    {
        if (!Decimal)
            return ParseHexValue(text, value) && value <= limit;
        if (text.empty() || text.size() > 10)
            return false;
        uint64_t v = 0;
        for (char c : text) {
            if (c < '0' || c > '9')
                return false;
            v = v * 10 + static_cast<uint64_t>(c - '0');
        }
        value = static_cast<uint32_t>(v);
        return v <= limit;
    }

    // "<channel> <id>[x] <Rx|Tx> <d|r> <dlc> <bytes>..." from the second field on.
    bool Frame(const std::string_view* f, size_t n, TCanFrame& frame, std::string& what) const
    {
        frame = TCanFrame{};
        std::string_view id = f[2];
        frame.Standard = !(id.back() == 'x' || id.back() == 'X');
        if (!frame.Standard)
            id.remove_suffix(1);
        if (!Number(id, frame.Standard ? 0x7FF : 0x1FFFFFFF, frame.Id)) {
            what = "identifier \"" + std::string(f[2].substr(0, 40)) + "\" is not a CAN identifier";
            return false;
        }
        if (n < 5 || !(f[3] == "Rx" || f[3] == "Tx" || f[3] == "rx" || f[3] == "tx") ||
            !(f[4] == "d" || f[4] == "r" || f[4] == "D" || f[4] == "R")) {
            what = "not a CAN frame line (direction Rx/Tx, then d or r)";
            return false;
        }
        frame.Request = f[4] == "r" || f[4] == "R";
        uint32_t dlc = 0;
        // CANoe writes a remote frame without its length: "1 200 Tx r Length = 1704000 ...".
        const bool lengthGiven = n >= 6 && !(frame.Request && StartsWithWord(f[5], "Length"));
        if (lengthGiven && !Number(f[5], 15, dlc)) {
            what = "length \"" + std::string(f[5].substr(0, 40)) + "\" is not 0 to 15";
            return false;
        }
        if (!lengthGiven && !frame.Request) {
            what = "data frame without a length";
            return false;
        }
        frame.Length = static_cast<int32_t>(dlc);
        if (frame.Request)
            return true;
        const int count = CanDataBytes(frame.Length);
        if (n < 6 + static_cast<size_t>(count)) {
            what = "fewer data bytes than the length " + std::to_string(dlc);
            return false;
        }
        for (int i = 0; i < count; ++i) {
            uint32_t byte = 0;
            if (f[6 + i].size() > 3 || !Number(f[6 + i], 0xFF, byte)) {
                what = "data byte \"" + std::string(f[6 + i].substr(0, 40)) + "\" is not a byte";
                return false;
            }
            frame.Data[i] = static_cast<uint8_t>(byte);
        }
        return true;
    }

    int64_t StartUs = 0;
    int64_t Previous = 0;
    bool TriggerDate = false;
    bool Decimal = false;
    bool Relative = false;
};

std::unique_ptr<TRecordWriter> CreateWriter(int fd, const std::string& name, const TRecordWriterOptions&)
{
    return std::make_unique<TAscWriter>(fd, name);
}

std::unique_ptr<TRecordReader> CreateReader(int fd, bool owned, const std::string& name)
{
    return std::make_unique<TAscReader>(fd, owned, name);
}

bool Sniff(std::string_view head)
{
    const std::string_view line = FirstTextLine(head);
    for (std::string_view word :
         {"date ", "base ", "//", "internal events", "no internal events", "Begin Triggerblock"})
        if (line.substr(0, word.size()) == word)
            return true;
    return false;
}

} // namespace

extern const TRecordFormatEntry kFormatAsc = {TRecordFormat::Asc, "asc",       "Vector ASC", ".asc", Sniff,
                                              CreateReader,       CreateWriter};

} // namespace tcm::recording
