// Every written format read by the real tools (can-utils, tshark, python-can) and by our readers,
// and our readers given what the real tools write.
#include <cstdio>
#include <cstring>
#include <future>
#include <memory>
#include <utility>

#include "RecordTestSupport.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace {

std::vector<TSeenFrame> Expected(const std::vector<TRecordFrame>& frames, bool withDirection)
{
    std::vector<TSeenFrame> seen;
    for (const auto& f : frames)
        seen.push_back(Seen(f, withDirection));
    return seen;
}

std::vector<std::string> TsharkArgs(const std::string& input)
{
    // AUTOSAR NM would take the data of identifier 0 for itself.
    std::vector<std::string> args = {"/usr/bin/tshark", "-r", input,   "--disable-protocol",
                                     "autosar-nm",      "-T", "fields"};
    for (const auto& field : kTsharkFields) {
        args.push_back("-e");
        args.push_back(field);
    }
    return args;
}

} // namespace

TEST(RecordTools, CandumpLogReadByCanUtilsTsharkAndPythonCanAndBack)
{
    TempDir dir;
    const auto frames = MixedCapture();
    const auto expected = Expected(frames, false);
    const std::string log = dir.File("mixed.log");
    WriteCapture(TRecordFormat::Candump, log, frames);
    // Exactly the `candump -L` form.
    const auto lines = Lines(ReadWholeFile(log));
    ASSERT_EQ(lines.size(), frames.size());
    EXPECT_EQ(lines[0], "(1700000000.123456) can0 100#");
    EXPECT_EQ(lines[20], "(1700000000.168816) can0 123#R4");

    auto byTshark = std::async(std::launch::async, [&] { return RunTool(TsharkArgs(log)); });
    CompareFrames(expected, ReadWithPythonCan(log, false), false, "python-can");
    CompareFrames(expected, ParseTsharkFields(byTshark.get(), false), false, "tshark");
    CompareFrames(expected, ReadWithOurs(log, false), false, "our candump reader");

    // log2asc's ASC through our ASC reader (log2asc marks every frame received).
    const std::string asc = dir.File("from-log2asc.asc");
    RunTool({"/usr/bin/log2asc", "-I", log, "-O", asc, "can0"});
    auto fromAsc = ReadWithOurs(asc, true);
    for (auto& s : fromAsc)
        EXPECT_EQ(std::exchange(s.Direction, -1), 0);
    CompareFrames(expected, fromAsc, true, "log2asc output, our ASC reader");

    // Another interface name.
    TRecordWriterOptions options;
    options.Interface = "vcan3";
    WriteCapture(TRecordFormat::Candump, log, frames, options);
    EXPECT_EQ(Lines(ReadWholeFile(log))[1], "(1700000000.124690) vcan3 01ABCD00#");
}

TEST(RecordTools, AscReadByCanUtilsAndPythonCanAndBack)
{
    TempDir dir;
    const auto frames = MixedCapture();
    const auto expected = Expected(frames, true);
    const std::string asc = dir.File("mixed.asc");
    WriteCapture(TRecordFormat::Asc, asc, frames);
    const auto lines = Lines(ReadWholeFile(asc));
    ASSERT_EQ(lines.size(), frames.size() + 6);
    EXPECT_EQ(lines[1], "base hex  timestamps absolute");
    EXPECT_EQ(lines[2], "internal events logged");
    EXPECT_EQ(lines[4], "   0.000000 Start of measurement");
    EXPECT_EQ(lines[5], "   0.000456 1  100             Rx   d 0");
    EXPECT_EQ(lines[14], "   0.019834 1  1ABCD04x        Tx   d 4 1A 2B 3C 4D");
    EXPECT_EQ(lines[25], "   0.045816 1  123             Tx   r 4");
    EXPECT_EQ(lines.back(), "End TriggerBlock");

    CompareFrames(expected, ReadWithPythonCan(asc, true), true, "python-can");
    CompareFrames(expected, ReadWithOurs(asc, true), false, "our ASC reader");

    // asc2log's candump log through our candump reader: directions kept as R/T.
    const std::string log = RunTool({"/usr/bin/asc2log", "-I", asc});
    const std::string logPath = dir.File("from-asc2log.log");
    ASSERT_TRUE(WriteWholeFile(logPath, log));
    CompareFrames(expected, ReadWithOurs(logPath, true), true, "asc2log output, our candump reader");
}

TEST(RecordTools, BlfReadByTsharkAndPythonCanAndBack)
{
    TempDir dir;
    // Enough frames for several log containers, so that containers follow one another.
    std::vector<TRecordFrame> frames;
    for (int round = 0; round < 250; ++round)
        for (auto f : MixedCapture()) {
            f.WallUs += round * 100000;
            frames.push_back(f);
        }
    const auto expected = Expected(frames, true);
    std::vector<TPythonCanFile> files;
    for (bool compressed : {true, false}) {
        SCOPED_TRACE(compressed ? "zlib containers" : "stored containers");
        TRecordWriterOptions options;
        options.BlfCompressed = compressed;
        const std::string blf = dir.File(compressed ? "zlib.blf" : "stored.blf");
        WriteCapture(TRecordFormat::Blf, blf, frames, options);
        const std::string bytes = ReadWholeFile(blf);
        ASSERT_GT(bytes.size(), 144u);
        uint64_t fileSize = 0;
        uint32_t objects = 0;
        std::memcpy(&fileSize, bytes.data() + 16, 8);
        std::memcpy(&objects, bytes.data() + 32, 4);
        EXPECT_EQ(fileSize, bytes.size());
        EXPECT_EQ(objects, frames.size());

        CompareFrames(expected, ReadWithOurs(blf, true), false, "our BLF reader");
        files.push_back({blf, true});
    }
    // The tools read both files side by side.
    auto byPython = std::async(std::launch::async, [&] { return ReadWithPythonCan(files); });
    std::vector<std::future<std::string>> byTshark;
    for (const auto& file : files)
        byTshark.push_back(std::async(std::launch::async, [&] { return RunTool(TsharkArgs(file.Path)); }));
    for (size_t i = 0; i < files.size(); ++i)
        CompareFrames(expected, ParseTsharkFields(byTshark[i].get(), true), false, "tshark " + files[i].Path);
    const auto python = byPython.get();
    for (size_t i = 0; i < files.size(); ++i)
        CompareFrames(expected, python[i], false, "python-can " + files[i].Path);
}

TEST(RecordTools, PcapReadByTsharkFromFileAndPipe)
{
    TempDir dir;
    const auto frames = MixedCapture();
    const auto expected = Expected(frames, false);
    const std::string pcap = dir.File("mixed.pcap");
    WriteCapture(TRecordFormat::Pcap, pcap, frames);
    // Wireshark's file writer writes it again, as pcap and as pcapng (its own
    // default), meanwhile: editcap, which is that writer without tshark's start-up.
    const char* const kinds[] = {"pcap", "pcapng"};
    std::vector<std::unique_ptr<TChild>> rewrites;
    for (const char* kind : kinds)
        rewrites.push_back(std::make_unique<TChild>(
            std::vector<std::string>{"/usr/bin/editcap", "-F", kind, pcap, dir.File(std::string("again.") + kind)}));
    // A tshark that reads its standard input starts meanwhile too.
    const std::string out = dir.File("tshark.txt");
    std::string command = "/usr/bin/tshark -r - --disable-protocol autosar-nm -T fields";
    for (const auto& field : kTsharkFields)
        command += " -e " + field;
    FILE* pipe = ::popen((command + " > " + out + " 2>/dev/null").c_str(), "w");
    ASSERT_TRUE(pipe);
    CompareFrames(expected, ParseTsharkFields(RunTool(TsharkArgs(pcap)), false), false, "tshark -r file");
    CompareFrames(expected, ReadWithOurs(pcap, false), false, "our pcap reader");

    // Streamed into tshark's standard input, flushed frame by frame as a live capture is.
    auto writer = CreateRecordWriter(TRecordFormat::Pcap, fileno(pipe), "tshark");
    for (const auto& f : frames) {
        writer->Write(f);
        writer->Flush();
    }
    writer->Finish();
    ASSERT_EQ(::pclose(pipe), 0);
    CompareFrames(expected, ParseTsharkFields(ReadWholeFile(out), false), false, "tshark -r -");

    // What Wireshark wrote again reads back through our reader.
    for (size_t i = 0; i < rewrites.size(); ++i) {
        ASSERT_EQ(rewrites[i]->WaitExit(120000), 0) << rewrites[i]->ErrText;
        const std::string again = dir.File(std::string("again.") + kinds[i]);
        CompareFrames(expected, ReadWithOurs(again, false), false,
                      std::string("editcap's ") + kinds[i] + ", our reader");
    }
}
