#include "RecordTestSupport.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>

#include "core/CanText.h"
#include "platform/Mutex.h"
#include "support/ChildProcess.h"

std::vector<TRecordFrame> MixedCapture()
{
    std::vector<TRecordFrame> frames;
    int64_t us = 1700000000123456; // not on a millisecond: the formats' rounding shows
    auto add = [&](uint32_t id, bool standard, bool remote, int length, bool out) {
        TRecordFrame r;
        r.Frame.Id = id;
        r.Frame.Standard = standard;
        r.Frame.Request = remote;
        r.Frame.Length = length;
        for (int i = 0; i < 8; ++i)
            r.Frame.Data[i] = remote ? 0 : static_cast<uint8_t>(0x11 * (i + 1) + frames.size());
        r.Outgoing = out;
        r.WallUs = us;
        r.Frame.Time = static_cast<uint32_t>(us / 1000);
        us += 1234 + 517 * static_cast<int64_t>(frames.size() % 5);
        frames.push_back(r);
    };
    for (int len = 0; len <= 8; ++len) {
        add(0x100 + static_cast<uint32_t>(len), true, false, len, len % 3 == 2);
        add(0x1ABCD00 + static_cast<uint32_t>(len), false, false, len, len % 3 == 1);
    }
    add(0x7FF, true, true, 0, false);
    add(0x000, true, false, 1, false);
    add(0x123, true, true, 4, true);
    add(0x1FFFFFFF, false, true, 0, false);
    add(0x00000005, false, true, 8, true);
    add(0x7FF, true, false, 8, true);
    return frames;
}

TSeenFrame Seen(const TRecordFrame& r, bool withDirection)
{
    TSeenFrame s;
    s.Id = r.Frame.Id;
    s.Extended = !r.Frame.Standard;
    s.Remote = r.Frame.Request;
    s.Length = r.Frame.Length;
    if (!s.Remote)
        AppendDataBytes(s.Data, r.Frame.Data, CanDataBytes(r.Frame.Length), '\0');
    s.Direction = withDirection ? (r.Outgoing ? 1 : 0) : -1;
    s.Us = r.WallUs;
    return s;
}

void WriteCapture(TRecordFormat format, const std::string& path, const std::vector<TRecordFrame>& frames,
                  const TRecordWriterOptions& options)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << path;
    auto writer = CreateRecordWriter(format, fd, path, options);
    for (const auto& f : frames)
        writer->Write(f);
    writer->Finish();
    ::close(fd);
}

std::vector<TSeenFrame> ReadWithOurs(const std::string& path, bool withDirection, std::vector<std::string>* errors,
                                     std::string* leftOut, int channel)
{
    std::string error;
    auto reader = OpenRecordReader(path, error);
    EXPECT_TRUE(reader) << error;
    std::vector<TSeenFrame> seen;
    if (!reader)
        return seen;
    reader->OnError = [&](const std::string& message) {
        if (errors)
            errors->push_back(message);
        else
            ADD_FAILURE() << message;
    };
    reader->Channel = channel;
    TRecordFrame r;
    while (reader->Next(r))
        seen.push_back(Seen(r, withDirection));
    if (leftOut)
        *leftOut = reader->LeftOut();
    return seen;
}

std::string RunTool(std::vector<std::string> args)
{
    if (::access(args[0].c_str(), X_OK) != 0) {
        ADD_FAILURE() << args[0] << " is missing: install the test tools (TCM_TEST_TOOLS=1 scripts/setup.sh)";
        return {};
    }
    TChild child(args);
    const int status = child.WaitExit(120000);
    EXPECT_EQ(status, 0) << args[0] << " " << (args.size() > 1 ? args[1] : "") << " failed: " << child.ErrText;
    return child.OutText;
}

const std::vector<std::string> kTsharkFields = {"frame.time_epoch",
                                                "can.id",
                                                "can.flags.xtd",
                                                "can.flags.rtr",
                                                "can.len",
                                                "data.data",
                                                "frame.packet_flags_direction"};

namespace {

bool TrueField(const std::string& value)
{
    return value == "1" || value == "True" || value == "true";
}

std::vector<std::string> SplitTabs(const std::string& line)
{
    std::vector<std::string> fields;
    std::string field;
    std::istringstream in(line);
    while (std::getline(in, field, '\t'))
        fields.push_back(field);
    if (!line.empty() && line.back() == '\t')
        fields.emplace_back();
    return fields;
}

int64_t SecondsToUs(const std::string& text)
{
    const size_t dot = text.find('.');
    int64_t us = std::stoll(text.substr(0, dot)) * 1000000;
    if (dot != std::string::npos) {
        std::string fraction = text.substr(dot + 1, 6);
        fraction.resize(6, '0');
        us += std::stoll(fraction);
    }
    return us;
}

std::string Upper(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

} // namespace

std::vector<TSeenFrame> ParseTsharkFields(const std::string& output, bool withDirection)
{
    std::vector<TSeenFrame> seen;
    for (const auto& line : Lines(output)) {
        const auto f = SplitTabs(line);
        if (f.size() < 6) {
            ADD_FAILURE() << "tshark line: " << line;
            continue;
        }
        TSeenFrame s;
        s.Us = SecondsToUs(f[0]);
        s.Id = static_cast<uint32_t>(std::stoul(f[1], nullptr, 0));
        s.Extended = TrueField(f[2]);
        s.Remote = TrueField(f[3]);
        s.Length = std::stoi(f[4]);
        if (!s.Remote)
            s.Data = Upper(f[5]);
        if (withDirection)
            s.Direction = f.size() > 6 && !f[6].empty() ? (std::stoi(f[6], nullptr, 0) == 2 ? 1 : 0) : -2;
        seen.push_back(s);
    }
    return seen;
}

namespace {

// One python-can interpreter for the whole test program, started at its first
// use: importing can takes longer than reading a file. It reads a line of
// tab-separated paths at a time and answers with each file's frames, then "end".
class TPythonCanReader {
public:
    ~TPythonCanReader()
    {
        Python.CloseInput(); // the interpreter's input ends, and so does it
        Python.WaitExit(10000);
    }

    // The lines answered for `files`.
    std::vector<std::string> Read(const std::vector<TPythonCanFile>& files)
    {
        tcm::TMutexLock guard(Lock);
        std::string request;
        for (const auto& file : files)
            request += (request.empty() ? "" : "\t") + file.Path;
        std::vector<std::string> lines;
        EXPECT_TRUE(Python.Write(request + "\n"))
            << kPython << " with python-can is needed: install the test tools (TCM_TEST_TOOLS=1 scripts/setup.sh)";
        for (std::string line = Python.ReadLine(120000); line != "end"; line = Python.ReadLine(120000)) {
            if (line.empty()) {
                ADD_FAILURE() << "python-can ended before it had read " << request << ": " << Python.ErrText;
                break;
            }
            lines.push_back(line);
        }
        return lines;
    }

private:
    static constexpr const char* kPython = "/usr/bin/python3";
    static constexpr const char* kScript =
        "import can, sys\n"
        "for request in sys.stdin:\n"
        "    for path in request.rstrip('\\n').split('\\t'):\n"
        "        print('file')\n"
        "        try:\n"
        "            for m in can.LogReader(path):\n"
        "                print('%.6f\\t%d\\t%d\\t%d\\t%d\\t%s\\t%d' % (m.timestamp, m.arbitration_id,\n"
        "                      m.is_extended_id, m.is_remote_frame, m.dlc, bytes(m.data).hex().upper(),\n"
        "                      0 if m.is_rx else 1))\n"
        "        except Exception as e:\n"
        "            print('error\\t%s: %r' % (path, e))\n"
        "    print('end', flush=True)\n";
    TChild Python{{kPython, "-c", kScript}, true};
    tcm::TMutex Lock;
};

TPythonCanReader& PythonCan()
{
    static TPythonCanReader reader;
    return reader;
}

} // namespace

void StartPythonCan()
{
    PythonCan();
}

std::vector<std::vector<TSeenFrame>> ReadWithPythonCan(const std::vector<TPythonCanFile>& files)
{
    std::vector<std::vector<TSeenFrame>> read;
    for (const auto& line : PythonCan().Read(files)) {
        if (line == "file") {
            read.emplace_back();
            continue;
        }
        const auto f = SplitTabs(line);
        if (f.size() != 7 || read.empty()) {
            ADD_FAILURE() << "python-can line: " << line;
            continue;
        }
        TSeenFrame s;
        s.Us = SecondsToUs(f[0]);
        s.Id = static_cast<uint32_t>(std::stoul(f[1]));
        s.Extended = f[2] == "1";
        s.Remote = f[3] == "1";
        s.Length = std::stoi(f[4]);
        if (!s.Remote)
            s.Data = f[5];
        s.Direction = files[read.size() - 1].WithDirection ? std::stoi(f[6]) : -1;
        read.back().push_back(s);
    }
    read.resize(files.size());
    return read;
}

std::vector<TSeenFrame> ReadWithPythonCan(const std::string& path, bool withDirection)
{
    return ReadWithPythonCan({{path, withDirection}})[0];
}

void CompareFrames(const std::vector<TSeenFrame>& expected, const std::vector<TSeenFrame>& actual, bool relative,
                   const std::string& what)
{
    SCOPED_TRACE(what);
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const TSeenFrame& e = expected[i];
        const TSeenFrame& a = actual[i];
        SCOPED_TRACE("frame " + std::to_string(i));
        EXPECT_EQ(a.Id, e.Id);
        EXPECT_EQ(a.Extended, e.Extended);
        EXPECT_EQ(a.Remote, e.Remote);
        EXPECT_EQ(a.Length, e.Length);
        EXPECT_EQ(a.Data, e.Data);
        EXPECT_EQ(a.Direction, e.Direction);
        const int64_t eUs = relative ? e.Us - expected[0].Us : e.Us;
        const int64_t aUs = relative ? a.Us - actual[0].Us : a.Us;
        EXPECT_LE(std::llabs(aUs - eUs), 1000) << "expected " << eUs << " us, read " << aUs;
    }
}
