// candump log, the form `candump -L` writes and can-utils, Wireshark and python-can read:
//     (1700000000.123000) can0 123#DEADBEEF
// six fraction digits, no direction after the frame (Wireshark 4.0 refuses a file that has one).
// The reader also takes the " R"/" T" direction that asc2log and newer candump versions add.
#include <vector>

#include "core/CanText.h"
#include "record/RecordIo.h"
#include "record/TextFields.h"

namespace tcm::recording {
namespace {

constexpr size_t kMaxLine = 1024;

class TCandumpWriter final : public TRecordWriter {
public:
    TCandumpWriter(int fd, const std::string& name, const std::string& interfaceName)
        : Out(fd, name), Interface(" " + interfaceName + " ")
    {
        Out.SetLineRecords();
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

    bool Parse(const std::string_view* f, size_t n, TRecordFrame& out, std::string& what)
    {
        if (n < 3 || n > 4) {
            what = "not a candump log line";
            return false;
        }
        int64_t us = 0;
        const std::string_view seconds = f[0].substr(1, f[0].size() < 2 ? 0 : f[0].size() - 2);
        if (f[0].size() < 3 || f[0].front() != '(' || f[0].back() != ')' || seconds.find('.') == 0 ||
            seconds.find('.') + 1 >= seconds.size() || !ParseSeconds(seconds, us)) {
            what = "time \"" + std::string(f[0].substr(0, 40)) + "\" is not (seconds.fraction)";
            return false;
        }
        std::string_view text = f[2];
        const size_t hash = text.find('#');
        if (hash != std::string_view::npos && text.substr(hash, 2) == "##") {
            ++Dropped.Fd; // CAN FD: "123##<flags><data>"
            return false;
        }
        uint32_t id = 0;
        if (hash == 8 && ParseHexValue(text.substr(0, 8), id) && (id & kErrorFlag)) {
            ++Dropped.Error;
            return false;
        }
        // A classic frame with a length code of 9 to 15 ends in "_<code>" (candump -8).
        int lengthCode = -1;
        if (text.size() > 2 && text[text.size() - 2] == '_') {
            const int code = HexDigitValue(text.back());
            if (code < 9) {
                what = "frame \"" + std::string(text.substr(0, 40)) + "\" has a length code suffix below 9";
                return false;
            }
            lengthCode = code;
            text.remove_suffix(2);
        }
        auto frame = ParseCompactFrame(text);
        if (!frame || (lengthCode >= 0 && (frame->Request || frame->Length != 8))) {
            what = "frame \"" + std::string(f[2].substr(0, 40)) + "\" is not a CAN frame in ID#DATA form";
            return false;
        }
        if (n == 4 && f[3] != "R" && f[3] != "T") {
            what = "direction \"" + std::string(f[3].substr(0, 40)) + "\" is neither R nor T";
            return false;
        }
        if (lengthCode >= 0)
            frame->Length = lengthCode;
        out.Frame = *frame;
        out.Outgoing = n == 4 && f[3] == "T";
        out.WallUs = us;
        out.Frame.Time = TickFromWallUs(us);
        out.Channel = ChannelOf(f[1]);
        return true;
    }

    // Interfaces are numbered as they first appear: the first one is channel 1.
    int ChannelOf(std::string_view interfaceName)
    {
        for (size_t i = 0; i < Interfaces.size(); ++i)
            if (Interfaces[i] == interfaceName)
                return static_cast<int>(i) + 1;
        if (Interfaces.size() < kMaxInterfaces)
            Interfaces.emplace_back(interfaceName);
        return static_cast<int>(Interfaces.size());
    }

    static constexpr uint32_t kErrorFlag = 0x20000000;
    static constexpr size_t kMaxInterfaces = 256;
    std::vector<std::string> Interfaces;
};

std::unique_ptr<TRecordWriter> CreateWriter(int fd, const std::string& name, const TRecordWriterOptions& options)
{
    return std::make_unique<TCandumpWriter>(fd, name, options.Interface);
}

std::unique_ptr<TRecordReader> CreateReader(int fd, bool owned, const std::string& name)
{
    return std::make_unique<TCandumpReader>(fd, owned, name);
}

bool Sniff(std::string_view head)
{
    return FirstTextLine(head).substr(0, 1) == "(";
}

} // namespace

extern const TRecordFormatEntry kFormatCandump = {TRecordFormat::Candump, "candump",   "candump log", ".log", Sniff,
                                                  CreateReader,           CreateWriter};

} // namespace tcm::recording
