// Trace entries into recordings, damaged input through our readers, and write failures.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <system_error>

#include "RecordTestSupport.h"
#include "support/ChildProcess.h"
#include "support/FullDisk.h"
#include "support/TempDir.h"
#include "views/TarvenixTrace.h"

namespace {

struct TRead {
    std::vector<TSeenFrame> Frames;
    std::vector<std::string> Errors;
    std::string LeftOut;
};

TRead ReadFile(const std::string& path)
{
    TRead r;
    r.Frames = ReadWithOurs(path, false, &r.Errors, &r.LeftOut);
    return r;
}

std::string Blf(const std::vector<TRecordFrame>& frames, bool compressed, const TempDir& dir)
{
    TRecordWriterOptions options;
    options.BlfCompressed = compressed;
    WriteCapture(TRecordFormat::Blf, dir.File("x.blf"), frames, options);
    return ReadWholeFile(dir.File("x.blf"));
}

} // namespace

TEST(RecordReaders, TraceEntriesBecomeTraceLinesAndKeepTheirWallClockTime)
{
    TempDir dir;
    TTarvenixTraceList trace;
    TCanFrame f;
    f.Standard = true;
    f.Id = 0x123;
    f.Length = 2;
    f.Data[0] = 0x01;
    f.Data[1] = 0xAB;
    f.Time = 5000;
    trace.AddFrame(f, false);
    f.Request = true;
    f.Length = 3;
    f.Time = 5250;
    trace.AddFrame(f, true);
    f.Standard = false;
    f.Request = false;
    f.Id = 0x1234567;
    f.Length = 8;
    f.Time = 6000;
    trace.AddFrame(f, false);

    std::vector<TRecordFrame> frames;
    for (int i = 0; i < trace.Count(); ++i)
        frames.push_back(MakeRecordFrame(trace, *trace.Item(i)));
    EXPECT_EQ(frames[1].WallUs - frames[0].WallUs, 250000);
    EXPECT_EQ(frames[2].WallUs - frames[0].WallUs, 1000000);

    const std::string text = dir.File("trace.txt");
    WriteCapture(TRecordFormat::Trace, text, frames);
    const auto lines = Lines(ReadWholeFile(text));
    ASSERT_EQ(lines.size(), 3u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(lines[i], trace.Item(i)->FormatLine());
    EXPECT_EQ(lines[0], "IN  ts: 5000  id: 123  l: 2  data: 01 AB ");

    // Wall-clock times survive every format that reads back.
    for (TRecordFormat format : {TRecordFormat::Candump, TRecordFormat::Asc, TRecordFormat::Blf, TRecordFormat::Pcap}) {
        const std::string path = dir.File(std::string("trace.") + RecordFormatName(format));
        WriteCapture(format, path, frames);
        std::vector<TSeenFrame> expected;
        for (const auto& r : frames)
            expected.push_back(Seen(r, false));
        CompareFrames(expected, ReadWithOurs(path, false), format == TRecordFormat::Asc, path);
    }
}

TEST(RecordReaders, MalformedLinesAndObjectsAreReportedAndSkipped)
{
    TempDir dir;
    const std::string log = dir.File("bad.log");
    ASSERT_TRUE(WriteWholeFile(log, "(1700000000.000100) can0 123#11\n"
                                    "(1700000000.000200) can0 12#11\n"  // 2 hex digits
                                    "(1700000000,000300) can0 123#11\n" // comma
                                    "\n"
                                    "(1700000000.000400) can0 123#112\n"     // odd digits
                                    "(1700000000.000500) can0 0000ABCD#R9\n" // remote length 9
                                    "(1700000000.000600) can0 123#11 X\n"    // direction X
                                    "(1700000000.000700) can0 123##011\n"    // CAN FD
                                        + std::string(5000, 'A') +
                                        "\n"
                                        "(1700000000.000800) can0 00000ABC#0102 T\n"));
    auto r = ReadFile(log);
    ASSERT_EQ(r.Frames.size(), 2u);
    EXPECT_EQ(r.Frames[1].Id, 0xABCu);
    EXPECT_TRUE(r.Frames[1].Extended);
    ASSERT_EQ(r.Errors.size(), 6u);
    for (int i = 0; i < 6; ++i)
        EXPECT_NE(r.Errors[i].find(log + ": line " +
                                   std::to_string(i < 2   ? i + 2
                                                  : i < 5 ? i + 3
                                                          : i + 4) +
                                   ": "),
                  std::string::npos)
            << r.Errors[i];
    EXPECT_EQ(r.LeftOut, "1 CAN FD frame was left out");

    const std::string asc = dir.File("bad.asc");
    ASSERT_TRUE(WriteWholeFile(asc, "date Tue Nov 14 10:13:20.123 pm 2023\r\n"
                                    "base hex  timestamps absolute\r\n"
                                    "   0.000000 Start of measurement\r\n"
                                    "   0.001000 1  123             Rx   d 2 01 02\r\n"
                                    "   0.002000 1  800             Rx   d 1 01\r\n"    // beyond 11 bits
                                    "   0.003000 1  123             Rx   d 4 01 02\r\n" // bytes missing
                                    "   0.004000 1  123             Up   d 1 01\r\n"    // direction
                                    "   0.00x000 1  123             Rx   d 1 01\r\n"    // time
                                    "   0.005000 1  123             Rx   d 1 0G1\r\n"   // byte
                                    "   0.005500 CANFD   1 Rx 123 1 0 9 12 01 02 03 04 05 06 07 08 09 10 11 12\r\n"
                                    "   0.006000 1  ErrorFrame\r\n"
                                    "   0.007000 1  1FFFFFFFx       Tx   r\r\n"
                                    "End TriggerBlock\r\n"));
    r = ReadFile(asc);
    ASSERT_EQ(r.Frames.size(), 2u);
    EXPECT_EQ(r.Frames[1].Us - r.Frames[0].Us, 6000);
    ASSERT_EQ(r.Errors.size(), 5u);
    for (int i = 0; i < 5; ++i)
        EXPECT_NE(r.Errors[i].find(": line " + std::to_string(i + 5) + ": "), std::string::npos) << r.Errors[i];
    EXPECT_EQ(r.LeftOut, "1 CAN FD frame and 1 error frame were left out");

    // BLF: three stored containers; damage an object's signature, a container's zlib data, and cut
    // the file inside its last object.
    std::vector<TRecordFrame> frames;
    for (int i = 0; i < 8000; ++i) {
        TRecordFrame f = MixedCapture()[static_cast<size_t>(i % 24)];
        f.WallUs += i * 1000;
        frames.push_back(f);
    }
    std::string blf = Blf(frames, false, dir);
    blf[144 + 32 + 48 * 10] = 'X'; // object 10 of the first container
    blf.resize(blf.size() - 20);   // inside the last object
    ASSERT_TRUE(WriteWholeFile(dir.File("bad.blf"), blf));
    r = ReadFile(dir.File("bad.blf"));
    EXPECT_EQ(r.Frames.size(), frames.size() - 2);
    ASSERT_EQ(r.Errors.size(), 2u);
    EXPECT_NE(r.Errors[0].find(": offset 144: log container byte 480: 48 bytes without an object signature"),
              std::string::npos)
        << r.Errors[0];
    EXPECT_NE(r.Errors[1].find("cut short at the end of the file"), std::string::npos) << r.Errors[1];

    blf = Blf(frames, true, dir);
    blf[144 + 32 + 100] ^= 0x55;                 // inside the first container's zlib data
    std::memcpy(&blf[4], "\xFF\xFF\xFF\x7F", 4); // a header size past the end of the file
    ASSERT_TRUE(WriteWholeFile(dir.File("zlib.blf"), blf));
    r = ReadFile(dir.File("zlib.blf"));
    EXPECT_TRUE(r.Frames.empty());
    std::memcpy(&blf[4], "\x90\x00\x00\x00", 4);
    ASSERT_TRUE(WriteWholeFile(dir.File("zlib.blf"), blf));
    r = ReadFile(dir.File("zlib.blf"));
    EXPECT_GE(r.Frames.size(), frames.size() - 2731); // the other containers' frames
    EXPECT_LT(r.Frames.size(), frames.size());
    ASSERT_FALSE(r.Errors.empty());
    EXPECT_NE(r.Errors[0].find(": offset 144: log container does not inflate"), std::string::npos) << r.Errors[0];

    // pcap: a CAN FD record and a record length beyond any frame.
    WriteCapture(TRecordFormat::Pcap, dir.File("bad.pcap"),
                 std::vector<TRecordFrame>(frames.begin(), frames.begin() + 4));
    std::string pcap = ReadWholeFile(dir.File("bad.pcap"));
    pcap[24 + 32 + 16 + 4] = 64; // second frame: length 64
    const uint32_t huge = 1u << 30;
    std::memcpy(&pcap[24 + 3 * 32 + 8], &huge, 4); // fourth record
    ASSERT_TRUE(WriteWholeFile(dir.File("bad.pcap"), pcap));
    r = ReadFile(dir.File("bad.pcap"));
    EXPECT_EQ(r.Frames.size(), 2u);
    ASSERT_EQ(r.Errors.size(), 1u);
    EXPECT_NE(r.Errors[0].find(": offset 120: record length 1073741824"), std::string::npos) << r.Errors[0];
    EXPECT_EQ(r.LeftOut, "1 CAN FD frame was left out");
}

// Lines as other tools and people write them, which our writers never produce.
TEST(RecordReaders, ShortFractionsAndUpperCaseKindsOfOtherWriters)
{
    TempDir dir;
    const std::string log = dir.File("short.log");
    ASSERT_TRUE(WriteWholeFile(log, "(1700000000.5) can0 123#11\n"
                                    "(1700000000.25) can0 123#R\n"
                                    "(1700000001.000007) can0 123#\n"));
    auto r = ReadFile(log);
    ASSERT_EQ(r.Frames.size(), 3u);
    EXPECT_TRUE(r.Errors.empty());
    EXPECT_EQ(r.Frames[0].Us, 1700000000500000);
    EXPECT_EQ(r.Frames[1].Us, 1700000000250000);
    EXPECT_EQ(r.Frames[2].Us, 1700000001000007);

    const std::string asc = dir.File("upper.asc");
    ASSERT_TRUE(WriteWholeFile(asc, "date Tue Nov 14 10:13:20.123 pm 2023\r\n"
                                    "base hex  timestamps absolute\r\n"
                                    "   0.001000 1  123             Rx   R 2\r\n"
                                    "   0.002000 1  123             Rx   D 1 0A\r\n"
                                    "   0.003000 1  123             Rx   r\r\n"));
    r = ReadFile(asc);
    ASSERT_EQ(r.Frames.size(), 3u);
    EXPECT_TRUE(r.Errors.empty());
    EXPECT_TRUE(r.Frames[0].Remote);
    EXPECT_EQ(r.Frames[0].Length, 2);
    EXPECT_FALSE(r.Frames[1].Remote);
    EXPECT_EQ(r.Frames[1].Data, "0A");
    EXPECT_TRUE(r.Frames[2].Remote);
}

TEST(RecordWriters, FailuresNameTheFileAndStreamsNeedNoSeeking)
{
    const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(full, 0);
    for (TRecordFormat format :
         {TRecordFormat::Trace, TRecordFormat::Candump, TRecordFormat::Asc, TRecordFormat::Blf, TRecordFormat::Pcap}) {
        auto writer = CreateRecordWriter(format, full, "/dev/full");
        try {
            for (const auto& f : MixedCapture())
                writer->Write(f);
            writer->Finish();
            ADD_FAILURE() << RecordFormatName(format) << ": no error";
        } catch (const std::system_error& e) {
            EXPECT_STREQ(e.what(), "Unable to write to /dev/full: No space left on device");
        }
    }
    ::close(full);

    // BLF through a pipe: no header rewrite, and the reader takes it from the pipe.
    int p[2];
    ASSERT_EQ(::pipe(p), 0);
    const auto frames = MixedCapture();
    auto writer = CreateRecordWriter(TRecordFormat::Blf, p[1], "pipe");
    for (const auto& f : frames)
        writer->Write(f);
    writer->Finish();
    ::close(p[1]);
    auto reader = CreateRecordReader(TRecordFormat::Blf, p[0], "pipe");
    reader->OnError = [](const std::string& message) { ADD_FAILURE() << message; };
    std::vector<TSeenFrame> seen;
    std::vector<TSeenFrame> expected;
    for (TRecordFrame r; reader->Next(r);)
        seen.push_back(Seen(r, true));
    for (const auto& f : frames)
        expected.push_back(Seen(f, true));
    CompareFrames(expected, seen, false, "BLF through a pipe");
    ::close(p[0]);
}

TEST(RecordWriters, AFullDiskLeavesWholeRecordsThatPythonCanReads)
{
    // A file size limit plays the full disk: the write that crosses it is cut short.
    TempDir dir;
    const std::vector<TRecordFrame> frames = MixedCapture();
    std::vector<TPythonCanFile> files;
    for (TRecordFormat format : {TRecordFormat::Candump, TRecordFormat::Asc, TRecordFormat::Trc}) {
        const std::string extensions = RecordFormatEntry(format).Extensions;
        const std::string path = dir.File("full" + extensions.substr(0, extensions.find(' ')));
        const int status = RunWithFileLimit(70001, [&] {
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            auto writer = CreateRecordWriter(format, fd, path);
            try {
                for (int i = 0;; ++i) {
                    TRecordFrame f = frames[static_cast<size_t>(i) % frames.size()];
                    f.WallUs += i * 1000;
                    writer->Write(f);
                }
            } catch (const std::system_error& e) {
                return e.code().value() == EFBIG ? 0 : 1;
            }
        });
        ASSERT_EQ(status, 0) << RecordFormatName(format);
        const std::string text = ReadWholeFile(path);
        EXPECT_LT(text.size(), 70001u);
        ASSERT_FALSE(text.empty());
        EXPECT_EQ(text.back(), '\n') << path;
        files.push_back({path, false});
    }
    // Every line python-can reads is a whole frame; it stops at none. (python-can 4.1 passes
    // over TRC remote frames, type RR.)
    const auto read = ReadWithPythonCan(files);
    for (size_t i = 0; i < files.size(); ++i) {
        auto ours = ReadWithOurs(files[i].Path, false);
        if (i == 2)
            std::erase_if(ours, [](const TSeenFrame& f) { return f.Remote; });
        EXPECT_EQ(read[i].size(), ours.size()) << files[i].Path;
    }
}
