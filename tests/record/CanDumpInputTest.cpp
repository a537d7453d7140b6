// tarvenix-can-dump --input: every readable format converted into every format and read back by
// python-can, tshark and our readers; several files merged in time order; one channel of a
// recording of several; PEAK TRC written by python-can read by ours.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <memory>

#include "RecordTestSupport.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace {

struct TFormatCase {
    const char* Name;
    TRecordFormat Format;
    bool Direction;      // the format carries Rx/Tx
    bool PythonReads;    // python-can reads it (else tshark)
    bool PythonAbsolute; // python-can gives absolute times (else since the first frame)
    bool PythonRemote;   // python-can keeps remote frames
};

const TFormatCase kFormats[] = {
    {"candump", TRecordFormat::Candump, false, true, true, true},
    {"asc", TRecordFormat::Asc, true, true, false, true},
    {"blf", TRecordFormat::Blf, true, true, true, true},
    {"pcap", TRecordFormat::Pcap, false, false, true, true},
    // python-can reads TRC times from the start of the file, and passes over remote frames.
    {"trc", TRecordFormat::Trc, true, true, false, false},
};

// The same frames, kinds, bytes and directions; times the same to the microsecond since the
// first frame, and absolute ones too when `absolute`. One microsecond of room for a reader that
// goes through a double.
void SameFrames(const std::vector<TSeenFrame>& expected, const std::vector<TSeenFrame>& actual, bool absolute,
                const std::string& what)
{
    SCOPED_TRACE(what);
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const TSeenFrame& e = expected[i];
        const TSeenFrame& a = actual[i];
        EXPECT_TRUE(a.Id == e.Id && a.Extended == e.Extended && a.Remote == e.Remote && a.Length == e.Length &&
                    a.Data == e.Data && a.Direction == e.Direction)
            << "frame " << i << ": id " << a.Id << " length " << a.Length << " data " << a.Data << " direction "
            << a.Direction;
        EXPECT_LE(std::llabs((a.Us - actual[0].Us) - (e.Us - expected[0].Us)), 1) << "frame " << i;
        if (absolute) {
            EXPECT_LE(std::llabs(a.Us - e.Us), 1) << "frame " << i;
        }
    }
}

std::vector<TSeenFrame> Expected(const std::vector<TRecordFrame>& frames, bool sourceDirection, bool targetDirection,
                                 bool withRemote = true)
{
    std::vector<TSeenFrame> seen;
    for (TRecordFrame f : frames) {
        if (!withRemote && f.Frame.Request)
            continue;
        // A source without directions reads every frame as received.
        f.Outgoing = sourceDirection && f.Outgoing;
        seen.push_back(Seen(f, targetDirection));
    }
    return seen;
}

// The extension the format's files take (python-can knows a format by it).
std::string Extension(const TFormatCase& format)
{
    const std::string all = RecordFormatEntry(format.Format).Extensions;
    return all.substr(0, all.find(' '));
}

std::unique_ptr<TChild> StartDump(std::vector<std::string> args)
{
    args.insert(args.begin(), TCM_CAN_DUMP_EXE);
    return std::make_unique<TChild>(args);
}

} // namespace

TEST(CanDumpInput, EveryFormatConvertedIntoEveryOtherAndReadBackByTheRealTools)
{
    StartPythonCan(); // it reads the conversions' files at the end
    TempDir dir;
    // A TRC of python-can's own, for our reader, while the conversions run.
    const std::string pythonTrc = dir.File("python.trc");
    auto pythonWrites = std::async(std::launch::async, [&] {
        return RunTool({"/usr/bin/python3", "-c",
                        "import can, sys\n"
                        "w = can.TRCWriter(sys.argv[1])\n"
                        "t = 1700000000.123456\n"
                        "for i in range(12):\n"
                        "    x = i % 3 == 1\n"
                        "    w.on_message_received(can.Message(timestamp=t + i * 0.001517, is_extended_id=x,\n"
                        "        arbitration_id=(0x1ABCD00 if x else 0x700) + i, is_rx=i % 4 != 2, dlc=i % 9,\n"
                        "        data=bytes(range(i, i + i % 9))))\n"
                        "w.stop()\n",
                        pythonTrc});
    });
    const auto frames = MixedCapture();
    const long outgoing = std::count_if(frames.begin(), frames.end(), [](const auto& f) { return f.Outgoing; });
    struct TConversion {
        const TFormatCase* From;
        const TFormatCase* To;
        std::string Path;
        std::unique_ptr<TChild> Dump;
    };
    std::vector<TConversion> conversions;
    for (const TFormatCase& from : kFormats) {
        const std::string source = dir.File("source" + Extension(from));
        WriteCapture(from.Format, source, frames);
        for (const TFormatCase& to : kFormats) {
            const std::string path = dir.File(std::string(from.Name) + "-to" + Extension(to));
            conversions.push_back(
                {&from, &to, path, StartDump({"--input", source, "--format", to.Name, "--output", path})});
        }
    }
    std::vector<TPythonCanFile> pythonFiles;
    std::vector<std::pair<const TConversion*, std::future<std::string>>> byTshark;
    for (TConversion& c : conversions) {
        ASSERT_EQ(c.Dump->WaitExit(20000), 0) << c.Path << ": " << c.Dump->ErrText;
        const long out = c.From->Direction ? outgoing : 0;
        EXPECT_NE(c.Dump->ErrText.find("frames in: " + std::to_string(frames.size() - out) +
                                       ", frames out: " + std::to_string(out)),
                  std::string::npos)
            << c.Dump->ErrText;
        SameFrames(Expected(frames, c.From->Direction, c.To->Direction), ReadWithOurs(c.Path, c.To->Direction), true,
                   "our reader of " + c.Path);
        if (c.To->PythonReads)
            pythonFiles.push_back({c.Path, c.To->Direction});
        else if (c.From->Format == TRecordFormat::Trc)
            byTshark.emplace_back(&c, std::async(std::launch::async, [&c] {
                // AUTOSAR NM would take the data of identifier 0 for itself.
                return RunTool({"/usr/bin/tshark",
                                "-r",
                                c.Path,
                                "--disable-protocol",
                                "autosar-nm",
                                "-T",
                                "fields",
                                "-e",
                                "frame.time_epoch",
                                "-e",
                                "can.id",
                                "-e",
                                "can.flags.xtd",
                                "-e",
                                "can.flags.rtr",
                                "-e",
                                "can.len",
                                "-e",
                                "data.data",
                                "-e",
                                "frame.packet_flags_direction"});
            }));
    }
    const auto python = ReadWithPythonCan(pythonFiles);
    pythonWrites.get();
    std::vector<TSeenFrame> written;
    for (uint32_t i = 0; i < 12; ++i) {
        TSeenFrame f;
        f.Extended = i % 3 == 1;
        f.Id = (f.Extended ? 0x1ABCD00 : 0x700) + i;
        f.Direction = i % 4 == 2 ? 1 : 0;
        f.Length = static_cast<int>(i % 9);
        for (uint32_t b = i; b < i + i % 9; ++b) {
            char hex[3];
            std::snprintf(hex, sizeof hex, "%02X", b);
            f.Data += hex;
        }
        f.Us = i * 1517;
        written.push_back(f);
    }
    SameFrames(written, ReadWithOurs(pythonTrc, true), false, "python-can's TRC");
    size_t next = 0;
    for (const TConversion& c : conversions) {
        if (!c.To->PythonReads)
            continue;
        SameFrames(Expected(frames, c.From->Direction, c.To->Direction, c.To->PythonRemote), python[next++],
                   c.To->PythonAbsolute, "python-can reading " + c.Path);
    }
    for (auto& [c, output] : byTshark)
        SameFrames(Expected(frames, false, false), ParseTsharkFields(output.get(), false), true,
                   "tshark reading " + c->Path);
}

TEST(CanDumpInput, FilesMergedInTimeOrderThroughTheFiltersOneChannelChosen)
{
    TempDir dir;
    // Every other frame in each of two files of different formats.
    const auto frames = MixedCapture();
    std::vector<TRecordFrame> even;
    std::vector<TRecordFrame> odd;
    for (size_t i = 0; i < frames.size(); ++i)
        (i % 2 == 0 ? even : odd).push_back(frames[i]);
    WriteCapture(TRecordFormat::Blf, dir.File("even.blf"), even);
    WriteCapture(TRecordFormat::Asc, dir.File("odd.asc"), odd);
    // Two channels; channel 2 read.
    ASSERT_TRUE(WriteWholeFile(dir.File("buses.asc"), "date Tue Nov 14 10:13:20.123 pm 2023\n"
                                                      "base hex  timestamps absolute\n"
                                                      "   0.000100 1  100             Rx   d 1 01\n"
                                                      "   0.000250 2  200             Tx   d 2 02 03\n"
                                                      "   0.000300 1  101             Rx   d 0\n"
                                                      "   0.000400 2  1ABCDEFx        Rx   r 0\n"));

    auto merged = StartDump({"--input", dir.File("even.blf"), "--input", dir.File("odd.asc"), "--format", "blf",
                             "--output", dir.File("merged.blf")});
    auto filtered = StartDump({"--input", dir.File("odd.asc"), "--input", dir.File("even.blf"), "--filter", "100:700",
                               "--frames", "4", "--stats"});
    auto second = StartDump({"--input", dir.File("buses.asc"), "--channel", "2"});
    auto noInput = StartDump({"--channel", "2", "--port", "/dev/null"});
    auto both = StartDump({"--input", dir.File("buses.asc"), "--port", "/dev/null"});
    auto missing = StartDump({"--input", dir.File("buses.asc"), "--input", dir.File("none.log")});

    ASSERT_EQ(merged->WaitExit(20000), 0) << merged->ErrText;
    SameFrames(Expected(frames, true, true), ReadWithOurs(dir.File("merged.blf"), true), true, "merged files");

    // The trace lines of the first four received frames of identifiers 100-1FF, in time order
    // whichever file came first, and the statistics of every frame read.
    ASSERT_EQ(filtered->WaitExit(20000), 0) << filtered->ErrText;
    const auto lines = Lines(filtered->OutText);
    ASSERT_EQ(lines.size(), 5u) << filtered->OutText;
    EXPECT_EQ(lines[0], "IN  ts: " + std::to_string(frames[0].Frame.Time) + "  id: 100  l: 0  data: ");
    EXPECT_EQ(lines[1], "IN  ts: " + std::to_string(frames[2].Frame.Time) + "  id: 101  l: 1  data: 13 ");
    EXPECT_EQ(lines[2].substr(0, 4), "OUT ");
    EXPECT_EQ(lines[4], "IN  ts: " + std::to_string(frames[8].Frame.Time) + "  id: 104  l: 4  data: 19 2A 3B 4C ");
    EXPECT_NE(filtered->ErrText.find("\nbus: "), std::string::npos) << filtered->ErrText;

    ASSERT_EQ(second->WaitExit(20000), 0) << second->ErrText;
    const auto channelTwo = Lines(second->OutText);
    ASSERT_EQ(channelTwo.size(), 2u) << second->OutText;
    EXPECT_NE(channelTwo[0].find("OUT ts: "), std::string::npos);
    EXPECT_NE(channelTwo[0].find("id: 200  l: 2  data: 02 03 "), std::string::npos);
    EXPECT_NE(channelTwo[1].find("id: 01ABCDEF  l: 0  Request"), std::string::npos);
    EXPECT_NE(
        second->ErrText.find("buses.asc: Channels 1 and 2 found, channel 2 read. 2 frames of channel 1 were left out"),
        std::string::npos)
        << second->ErrText;

    EXPECT_EQ(noInput->WaitExit(20000), 2);
    EXPECT_NE(noInput->ErrText.find("--channel needs --input or --replay"), std::string::npos) << noInput->ErrText;
    EXPECT_EQ(both->WaitExit(20000), 2);
    EXPECT_NE(both->ErrText.find("--port and --input exclude each other"), std::string::npos) << both->ErrText;
    EXPECT_EQ(missing->WaitExit(20000), 2);
    EXPECT_NE(missing->ErrText.find("none.log"), std::string::npos) << missing->ErrText;
}
