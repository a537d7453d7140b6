// PEAK TRC, the text form PCAN-View writes and python-can reads. Header lines begin with ';':
//     ;$FILEVERSION=2.1
//     ;$STARTTIME=45268.5473147569         days since 30 Dec 1899, local time
//     ;$COLUMNS=N,O,T,B,I,d,R,L,D
//           1      1059.900 DT 1      0300 Rx -  8    00 00 00 00 04 00 00 00
// Times are milliseconds after the start time. Read: versions 1.0 to 1.3 ("1)  2876.7  Rx
// 0100  8  00 ..."), 2.0 and 2.1 (columns as $COLUMNS gives them). Written: version 2.1.
#include <cstdio>
#include <ctime>
#include <vector>

#include "core/CanText.h"
#include "record/RecordIo.h"
#include "record/TextFields.h"

namespace tcm::recording {
namespace {

constexpr size_t kMaxLine = 1024;
constexpr int64_t kUsPerDay = int64_t(86400) * 1000000;
constexpr int64_t kOleToUnixDays = 25569; // 30 Dec 1899 to 1 Jan 1970
// STARTTIME is written on a multiple of 1e-5 days (0.864 s), so that its short decimal text is
// exact and every frame keeps its microseconds.
constexpr int64_t kStartStepUs = 864000;

// Local wall-clock microseconds of a UTC time, and back.
int64_t LocalOffsetUs(int64_t utcUs)
{
    const time_t seconds = static_cast<time_t>(utcUs / 1000000);
    std::tm t{};
    if (!localtime_r(&seconds, &t))
        return 0;
    return int64_t(t.tm_gmtoff) * 1000000;
}

int64_t UtcFromLocalUs(int64_t localUs)
{
    const time_t seconds = static_cast<time_t>(localUs / 1000000);
    std::tm t{};
    if (!gmtime_r(&seconds, &t))
        return localUs;
    t.tm_isdst = -1;
    const time_t utc = std::mktime(&t);
    return utc == time_t(-1) ? localUs : int64_t(utc) * 1000000 + localUs % 1000000;
}

// "45268.5473147569" as local microseconds since 1970; false for anything else.
bool ParseOleDays(std::string_view text, int64_t& localUs)
{
    const size_t dot = text.find('.');
    uint64_t days = 0;
    uint64_t fraction = 0;
    std::string_view digits = dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
    if (digits.size() > 12)
        digits = digits.substr(0, 12);
    if (!ParseDecimal(text.substr(0, dot), days) || days < kOleToUnixDays || days > 3000000 ||
        (!digits.empty() && !ParseDecimal(digits, fraction)))
        return false;
    __extension__ using TWide = unsigned __int128;
    TWide scale = 1;
    for (size_t i = 0; i < digits.size(); ++i)
        scale *= 10;
    const auto partUs = static_cast<int64_t>(TWide(fraction) * TWide(kUsPerDay) / scale);
    localUs = (static_cast<int64_t>(days) - kOleToUnixDays) * kUsPerDay + partUs;
    return true;
}

void AppendOleDays(std::string& out, int64_t localUs)
{
    // localUs is a multiple of kStartStepUs: five fraction digits say it exactly.
    const int64_t days = localUs / kUsPerDay;
    AppendPadded(out, static_cast<uint64_t>(days + kOleToUnixDays), 1);
    out += '.';
    AppendPadded(out, static_cast<uint64_t>((localUs % kUsPerDay) / kStartStepUs), 5);
}

// Milliseconds with three fraction digits, right-aligned in `width`.
void AppendMs(std::string& out, int64_t us, size_t width)
{
    std::string text;
    AppendPadded(text, static_cast<uint64_t>(us / 1000), 1);
    text += '.';
    AppendPadded(text, static_cast<uint64_t>(us % 1000), 3);
    if (text.size() < width)
        out.append(width - text.size(), ' ');
    out += text;
}

void AppendRight(std::string& out, uint64_t value, size_t width)
{
    std::string text;
    AppendPadded(text, value, 1);
    if (text.size() < width)
        out.append(width - text.size(), ' ');
    out += text;
}

class TTrcWriter final : public TRecordWriter {
public:
    TTrcWriter(int fd, const std::string& name) : Out(fd, name) { Out.SetLineRecords(); }

    void Write(const TRecordFrame& r) override
    {
        const int64_t us = r.WallUs < 0 ? 0 : r.WallUs;
        if (!Started)
            Begin(us);
        const TCanFrame& f = r.Frame;
        std::string& b = Out.Bytes();
        AppendRight(b, ++Number, 7);
        b += ' ';
        AppendMs(b, us - StartUs < 0 ? 0 : us - StartUs, 13);
        b += f.Request ? " RR 1  " : " DT 1  ";
        const size_t idAt = b.size();
        AppendHex(b, f.Id & (f.Standard ? 0x7FF : 0x1FFFFFFF), f.Standard ? 4 : 8);
        b.insert(idAt, 8 - (b.size() - idAt), ' ');
        b += r.Outgoing ? " Tx -  " : " Rx -  ";
        const int length = CanDataBytes(f.Length);
        b += static_cast<char>(length < 10 ? '0' + length : 'A' + length - 10);
        b += "    ";
        if (!f.Request)
            AppendDataBytes(b, f.Data, length, ' ');
        b += "\r\n";
        Out.DrainIfFull();
    }
    void Flush() override { Out.Drain(); }
    void Finish() override
    {
        if (!Started)
            Begin(int64_t(std::time(nullptr)) * 1000000);
        Out.Drain();
    }

private:
    void Begin(int64_t firstUs)
    {
        Started = true;
        const int64_t offset = LocalOffsetUs(firstUs);
        const int64_t localStart = (firstUs + offset) / kStartStepUs * kStartStepUs;
        StartUs = localStart - offset;
        std::string& b = Out.Bytes();
        b += ";$FILEVERSION=2.1\r\n;$STARTTIME=";
        AppendOleDays(b, localStart);
        b += "\r\n;$COLUMNS=N,O,T,B,I,d,R,L,D\r\n;\r\n;   Start time: ";
        const time_t seconds = static_cast<time_t>(localStart / 1000000);
        std::tm t{};
        gmtime_r(&seconds, &t);
        char date[64];
        std::snprintf(date, sizeof date, "%02d.%02d.%04d %02d:%02d:%02d.%03d.0", t.tm_mday, t.tm_mon + 1,
                      t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec, static_cast<int>(localStart / 1000 % 1000));
        b += date;
        b += "\r\n;   Generated by TarvenixCanMonitor\r\n"
             ";-------------------------------------------------------------------------------\r\n"
             ";   Bus  Name            Connection               Protocol\r\n"
             ";   1    Seeed USB-CAN   -                        CAN\r\n"
             ";-------------------------------------------------------------------------------\r\n"
             ";   Message   Time    Type    ID     Rx/Tx\r\n"
             ";   Number    Offset  |  Bus  [hex]  |  Reserved\r\n"
             ";   |         [ms]    |  |    |      |  |  Data Length Code\r\n"
             ";   |         |       |  |    |      |  |  |    Data [hex] ...\r\n"
             ";   |         |       |  |    |      |  |  |    |\r\n"
             ";---+-- ------+------ +- +- --+----- +- +- +--- +- -- -- -- -- -- -- --\r\n";
    }

    TFdOutput Out;
    bool Started = false;
    int64_t StartUs = 0;
    uint64_t Number = 0;
};

class TTrcReader final : public TLineRecordReader {
public:
    TTrcReader(int fd, bool owned, const std::string& name) : TLineRecordReader(fd, owned, name, kMaxLine) {}

private:
    bool TakeLine(const std::string& text, TRecordFrame& out, std::string& what) override
    {
        const size_t first = text.find_first_not_of(" \t");
        if (first == std::string::npos)
            return false;
        const std::string_view line = std::string_view(text).substr(first);
        if (line[0] == ';') {
            Header(line.substr(1));
            return false;
        }
        std::string_view f[24];
        const size_t n = SplitFields(line, f, 24);
        if (n > 24) {
            what = "more fields than a TRC frame line has";
            return false;
        }
        TFields c;
        if (!(Version >= 20 ? Columns2(f, n, c) : Columns1(f, n, c)))
            return false; // an event, a status or a warning line
        if (c.Type == "FD" || c.Type == "FB" || c.Type == "FE" || c.Type == "BI") {
            ++Dropped.Fd;
            return false;
        }
        if (c.Type == "ER" || c.Type == "Error") {
            ++Dropped.Error;
            return false;
        }
        if (!(c.Type == "DT" || c.Type == "RR" || c.Type == "Rx" || c.Type == "Tx"))
            return false; // status, error counters, events
        int64_t offsetUs = 0;
        const bool negative = !c.Offset.empty() && c.Offset[0] == '-';
        if (!ParseSeconds(negative ? c.Offset.substr(1) : c.Offset, offsetUs, 12)) {
            what = "time offset \"" + std::string(c.Offset.substr(0, 40)) + "\" is not milliseconds";
            return false;
        }
        offsetUs /= 1000; // the text is milliseconds
        TCanFrame& frame = out.Frame;
        frame = TCanFrame{};
        frame.Standard = c.Id.size() <= 4;
        if (!ParseHexValue(c.Id, frame.Id) || frame.Id > (frame.Standard ? 0x7FFu : 0x1FFFFFFFu)) {
            what = "identifier \"" + std::string(c.Id.substr(0, 40)) + "\" is not a CAN identifier";
            return false;
        }
        const int dlc = c.Length.size() == 1 ? HexDigitValue(c.Length[0]) : -1;
        if (dlc < 0 || (dlc > 8 && Version < 20)) {
            what = "length \"" + std::string(c.Length.substr(0, 40)) + "\" is not 0 to 8";
            return false;
        }
        frame.Length = dlc;
        frame.Request = c.Type == "RR" || (c.DataCount > 0 && c.Data[0] == "RTR");
        if (!frame.Request) {
            const int count = CanDataBytes(dlc);
            if (c.DataCount < static_cast<size_t>(count)) {
                what = "fewer data bytes than the length " + std::to_string(dlc);
                return false;
            }
            for (int i = 0; i < count; ++i) {
                uint32_t byte = 0;
                if (c.Data[i].size() != 2 || !ParseHexValue(c.Data[i], byte)) {
                    what = "data byte \"" + std::string(c.Data[i].substr(0, 40)) + "\" is not a byte";
                    return false;
                }
                frame.Data[i] = static_cast<uint8_t>(byte);
            }
        }
        out.Outgoing = c.Direction == "Tx";
        uint64_t bus = 1;
        if (!c.Bus.empty() && ParseDecimal(c.Bus, bus) && bus > 0)
            out.Channel = static_cast<int>(std::min<uint64_t>(bus, 1u << 20));
        out.WallUs = StartUs + (negative ? -offsetUs : offsetUs);
        frame.Time = TickFromWallUs(out.WallUs);
        return true;
    }

    struct TFields {
        std::string_view Offset, Type, Bus, Id, Direction, Length;
        const std::string_view* Data = nullptr;
        size_t DataCount = 0;
    };

    // "1)  2876.7  [bus]  Rx|Tx  0100  [-]  8  00 11 ..." (1.1 to 1.3); "1)  1841  0100  8  00 ..." (1.0).
    bool Columns1(const std::string_view* f, size_t n, TFields& c) const
    {
        if (n < 4 || f[0].back() != ')')
            return false;
        size_t i = 2;
        if (Version == 10) {
            c.Type = "Rx";
        } else {
            if (Version >= 12)
                c.Bus = f[i++];
            if (i >= n)
                return false;
            c.Type = f[i++];
        }
        c.Offset = f[1];
        c.Direction = c.Type;
        if (i + 1 >= n)
            return false;
        c.Id = f[i++];
        if (Version >= 13 && f[i] == "-")
            ++i;
        if (i >= n)
            return false;
        c.Length = f[i++];
        c.Data = f + i;
        c.DataCount = n - i;
        return true;
    }

    // The columns $COLUMNS names: N number, O offset, T type, B bus, I id, d direction,
    // R reserved, L length code, l data length, D the data bytes (the rest of the line).
    bool Columns2(const std::string_view* f, size_t n, TFields& c) const
    {
        size_t i = 0;
        for (char column : ColumnOrder) {
            if (column == 'D') {
                c.Data = f + std::min(i, n);
                c.DataCount = i < n ? n - i : 0;
                break;
            }
            if (i >= n)
                return false;
            const std::string_view v = f[i++];
            switch (column) {
            case 'O':
                c.Offset = v;
                break;
            case 'T':
                c.Type = v;
                break;
            case 'B':
                c.Bus = v;
                break;
            case 'I':
                c.Id = v;
                break;
            case 'd':
                c.Direction = v;
                break;
            case 'L':
            case 'l':
                if (c.Length.empty() || column == 'L')
                    c.Length = v;
                break;
            default:
                break;
            }
        }
        return !c.Offset.empty() && !c.Id.empty() && !c.Length.empty();
    }

    void Header(std::string_view line)
    {
        if (StartsWithWord(line, "$FILEVERSION=")) {
            const std::string_view v = line.substr(13);
            Version = v.substr(0, 3) == "1.0"   ? 10
                      : v.substr(0, 3) == "1.1" ? 11
                      : v.substr(0, 3) == "1.2" ? 12
                      : v.substr(0, 3) == "1.3" ? 13
                      : v.substr(0, 3) == "2.0" ? 20
                                                : 21;
            ColumnOrder = Version == 20 ? "NOTIdlD" : "NOTBIdRLD";
        } else if (StartsWithWord(line, "$STARTTIME=")) {
            int64_t localUs = 0;
            if (ParseOleDays(line.substr(11), localUs))
                StartUs = UtcFromLocalUs(localUs);
        } else if (StartsWithWord(line, "$COLUMNS=")) {
            std::string order;
            for (char ch : line.substr(9))
                if (ch != ',' && ch != ' ' && order.size() < 16)
                    order += ch;
            if (!order.empty())
                ColumnOrder = order;
        }
    }

    int Version = 11; // a file without a version line is taken for 1.1
    std::string ColumnOrder = "NOTBIdRLD";
    int64_t StartUs = 0;
};

std::unique_ptr<TRecordWriter> CreateWriter(int fd, const std::string& name, const TRecordWriterOptions&)
{
    return std::make_unique<TTrcWriter>(fd, name);
}

std::unique_ptr<TRecordReader> CreateReader(int fd, bool owned, const std::string& name)
{
    return std::make_unique<TTrcReader>(fd, owned, name);
}

bool Sniff(std::string_view head)
{
    const std::string_view line = FirstTextLine(head);
    return line.substr(0, 13) == ";$FILEVERSION" || line.substr(0, 3) == ";##";
}

} // namespace

extern const TRecordFormatEntry kFormatTrc = {TRecordFormat::Trc, "trc",       "PEAK TRC", ".trc", Sniff,
                                              CreateReader,       CreateWriter};

} // namespace tcm::recording
