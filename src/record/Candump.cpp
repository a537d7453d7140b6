// candump log, the form `candump -L` writes and can-utils, Wireshark and python-can read:
//     (1700000000.123000) can0 123#DEADBEEF
// six fraction digits, no direction after the frame (Wireshark 4.0 refuses a file that has one).
// The reader also takes the " R"/" T" direction that asc2log and newer candump versions add.
#include "core/CanText.h"
#include "record/RecordIo.h"

namespace tcm::recording {
namespace {

constexpr size_t kMaxLine = 1024;

class TCandumpWriter final : public TRecordWriter {
public:
    TCandumpWriter(int fd, const std::string& name, const std::string& interfaceName)
        : Out(fd, name), Interface(" " + interfaceName + " ")
    {
    }
    void Write(const TRecordFrame& r) override
    {
        const uint64_t us = r.WallUs < 0 ? 0 : static_cast<uint64_t>(r.WallUs);
        std::string& b = Out.Bytes();
        b += '(';
        AppendPadded(b, us / 1000000, 1);
        b += '.';
        AppendPadded(b, us % 1000000, 6);
        b += ')';
        b += Interface;
        AppendCompactFrame(b, r.Frame);
        b += '\n';
        Out.DrainIfFull();
    }
    void Flush() override { Out.Drain(); }
    void Finish() override { Out.Drain(); }

private:
    TFdOutput Out;
    std::string Interface;
};

// "1700000000.123000" as microseconds; false when it is not that form.
bool ParseSeconds(std::string_view text, int64_t& us)
{
    const size_t dot = text.find('.');
    if (dot == 0 || dot == std::string_view::npos || dot > 12 || text.size() - dot - 1 < 1 || text.size() - dot - 1 > 9)
        return false;
    int64_t seconds = 0;
    for (size_t i = 0; i < dot; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        seconds = seconds * 10 + (text[i] - '0');
    }
    int64_t fraction = 0;
    int digits = 0;
    for (size_t i = dot + 1; i < text.size(); ++i, ++digits) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        if (digits < 6)
            fraction = fraction * 10 + (text[i] - '0');
    }
    for (; digits < 6; ++digits)
        fraction *= 10;
    us = seconds * 1000000 + fraction;
    return true;
}

// The space-separated fields of a line, at most `max` of them; more gives max + 1.
size_t SplitFields(std::string_view line, std::string_view* fields, size_t max)
{
    size_t count = 0;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        if (i == line.size())
            break;
        const size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t')
            ++i;
        if (count == max)
            return max + 1;
        fields[count++] = line.substr(start, i - start);
    }
    return count;
}

class TCandumpReader final : public TLineRecordReader {
public:
    TCandumpReader(int fd, bool owned, const std::string& name) : TLineRecordReader(fd, owned, name, kMaxLine) {}

private:
    bool TakeLine(const std::string& line, TRecordFrame& out, std::string& what) override
    {
        std::string_view f[4];
        const size_t n = SplitFields(line, f, 4);
        return n != 0 && Parse(f, n, out, what);
    }

    static bool Parse(const std::string_view* f, size_t n, TRecordFrame& out, std::string& what)
    {
        if (n < 3 || n > 4) {
            what = "not a candump log line";
            return false;
        }
        int64_t us = 0;
        if (f[0].size() < 3 || f[0].front() != '(' || f[0].back() != ')' ||
            !ParseSeconds(f[0].substr(1, f[0].size() - 2), us)) {
            what = "time \"" + std::string(f[0].substr(0, 40)) + "\" is not (seconds.fraction)";
            return false;
        }
        const auto frame = ParseCompactFrame(f[2]);
        if (!frame) {
            what = "frame \"" + std::string(f[2].substr(0, 40)) + "\" is not a CAN frame in ID#DATA form";
            return false;
        }
        if (n == 4 && f[3] != "R" && f[3] != "T") {
            what = "direction \"" + std::string(f[3].substr(0, 40)) + "\" is neither R nor T";
            return false;
        }
        out.Frame = *frame;
        out.Outgoing = n == 4 && f[3] == "T";
        out.WallUs = us;
        out.Frame.Time = TickFromWallUs(us);
        return true;
    }
};

} // namespace

std::unique_ptr<TRecordWriter> CreateCandumpWriter(int fd, const std::string& name, const TRecordWriterOptions& options)
{
    return std::make_unique<TCandumpWriter>(fd, name, options.Interface);
}

std::unique_ptr<TRecordReader> CreateCandumpReader(int fd, bool owned, const std::string& name)
{
    return std::make_unique<TCandumpReader>(fd, owned, name);
}

} // namespace tcm::recording
