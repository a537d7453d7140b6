// Recordings shaped as other tools write them (CANoe ASC with events and a German date, a BLF
// with padded containers and error frames, candump lines of CAN FD, error and len8_dlc frames,
// PEAK TRC 1.1 and 2.1, pcapng), read by our readers and by python-can or tshark side by side.
#include <cstdio>
#include <sstream>
#include <cstring>
#include <ctime>
#include <future>

#include "RecordTestSupport.h"
#include "BlfTestFiles.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace {

// What python-can reads, without the frames ours leaves out by design: CAN FD and error frames
// (counted instead) and those of channel 2 (identifier 0x222 in these files).
std::vector<std::vector<TSeenFrame>> PythonCanClassic(const std::vector<std::string>& paths)
{
    const std::string script =
        "import can, sys\n"
        "for path in sys.argv[1:]:\n"
        "    print('file')\n"
        "    for m in can.LogReader(path):\n"
        "        if m.is_fd or m.is_error_frame or m.arbitration_id == 0x222: continue\n"
        "        print('%.6f\\t%d\\t%d\\t%d\\t%d\\t%s\\t%d' % (m.timestamp, m.arbitration_id,\n"
        "              m.is_extended_id, m.is_remote_frame, m.dlc, bytes(m.data).hex().upper(),\n"
        "              0 if m.is_rx else 1))\n";
    std::vector<std::string> args = {"/usr/bin/python3", "-c", script};
    args.insert(args.end(), paths.begin(), paths.end());
    std::vector<std::vector<TSeenFrame>> read;
    for (const auto& line : Lines(RunTool(args))) {
        if (line == "file") {
            read.emplace_back();
            continue;
        }
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string field; std::getline(fields, field, '\t');)
            f.push_back(field);
        if (read.empty() || f.size() < 7) {
            ADD_FAILURE() << "python-can line: " << line;
            continue;
        }
        // Microseconds from the text, not through a double.
        TSeenFrame s;
        s.Us = std::stoll(f[0].substr(0, f[0].find('.'))) * 1000000 + std::stoll(f[0].substr(f[0].find('.') + 1));
        s.Id = static_cast<uint32_t>(std::stoul(f[1]));
        s.Extended = f[2] == "1";
        s.Remote = f[3] == "1";
        s.Length = std::stoi(f[4]);
        if (!s.Remote)
            s.Data = f[5];
        s.Direction = std::stoi(f[6]);
        read.back().push_back(s);
    }
    read.resize(paths.size());
    return read;
}

void SameToTheMicrosecond(const std::vector<TSeenFrame>& theirs, const std::vector<TSeenFrame>& ours,
                          const std::string& what)
{
    SCOPED_TRACE(what);
    ASSERT_EQ(ours.size(), theirs.size());
    for (size_t i = 0; i < ours.size(); ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        EXPECT_EQ(ours[i].Id, theirs[i].Id);
        EXPECT_EQ(ours[i].Extended, theirs[i].Extended);
        EXPECT_EQ(ours[i].Remote, theirs[i].Remote);
        EXPECT_EQ(ours[i].Length, theirs[i].Length);
        EXPECT_EQ(ours[i].Data, theirs[i].Data);
        EXPECT_EQ(ours[i].Us - ours[0].Us, theirs[i].Us - theirs[0].Us);
    }
}

struct TOurs {
    std::vector<TSeenFrame> Frames;
    std::vector<std::string> Errors;
    std::string LeftOut;
};

TOurs ReadOurs(const std::string& path, int channel = 1)
{
    TOurs r;
    r.Frames = ReadWithOurs(path, false, &r.Errors, &r.LeftOut, channel);
    for (auto& f : r.Frames)
        f.Direction = 0;
    return r;
}

} // namespace

TEST(ForeignFiles, OtherToolsRecordingsReadWholeWithWhatIsLeftOutNamed)
{
    TempDir dir;
    // CANoe: German date, events between the frames, a remote frame without its length,
    // an error frame, a CAN FD frame, and a frame of channel 2.
    const std::string asc = dir.File("canoe.asc");
    ASSERT_TRUE(WriteWholeFile(
        asc,
        "date Sam Sep 30 15:06:13.191 pm 2017\r\n"
        "base hex  timestamps absolute\r\n"
        "internal events logged\r\n"
        "// version 12.0.0\r\n"
        "Begin Triggerblock Sam Sep 30 15:06:13.191 pm 2017\r\n"
        "   0.000000 Start of measurement\r\n"
        "   0.001234 1  Statistic: D 0 R 0 XD 0 XR 0 E 0 O 0 B 0.00%\r\n"
        "   0.002345 CAN 1 Status:chip status error active\r\n"
        "   0.010017 1  123             Rx   d 2 01 02  Length = 228000 BitCount = 59 ID = 291\r\n"
        "   0.020518 1  200             Tx   r  Length = 1704000 BitCount = 145 ID = 512\r\n"
        "   0.030001 1  ErrorFrame\r\n"
        "   0.031000 SV: 1 0 1 ::Sys::Var = 5\r\n"
        "   0.032000 J1939TP FEE3p 6 0 0 - Rx d 23 01 02\r\n"
        "   0.040007 CANFD   1 Rx        300                                   1 0 8  8 01 02 03 04 05 06 07 08\r\n"
        "   0.050999 2  222             Rx   d 1 AA\r\n"
        "   0.061001 1  1ABCDEFx        Rx   d 8 11 22 33 44 55 66 77 88\r\n"
        "End TriggerBlock\r\n"));
    const TOurs fromAsc = ReadOurs(asc);
    EXPECT_TRUE(fromAsc.Errors.empty()) << fromAsc.Errors[0];
    EXPECT_EQ(fromAsc.LeftOut, "Channels 1 and 2 found, channel 1 read. 1 CAN FD frame, 1 error frame and 1 frame of "
                               "channel 2 were left out");
    ASSERT_EQ(fromAsc.Frames.size(), 3u);
    // 30 September 2017, 15:06:13.191 local time, plus the line's own microseconds.
    std::tm date{};
    date.tm_year = 117;
    date.tm_mon = 8;
    date.tm_mday = 30;
    date.tm_hour = 15;
    date.tm_min = 6;
    date.tm_sec = 13;
    date.tm_isdst = -1;
    EXPECT_EQ(fromAsc.Frames[0].Us, int64_t(std::mktime(&date)) * 1000000 + 191000 + 10017);
    EXPECT_EQ(ReadOurs(asc, 2).Frames.size(), 1u);

    // candump: a CAN FD frame, an error frame and a classic frame with length code 12.
    const std::string log = dir.File("fd.log");
    ASSERT_TRUE(WriteWholeFile(log, "(1700000000.000001) can0 123#0102\n"
                                    "(1700000000.000502) can0 123##1112233\n"
                                    "(1700000000.001003) can0 20000080#0000000000000000\n"
                                    "(1700000000.001504) can0 456#R\n"));
    const std::string len8 = dir.File("len8.log");
    ASSERT_TRUE(WriteWholeFile(len8, "(1700000000.002005) can0 7FF#1122334455667788_C\n"));
    const TOurs fromLog = ReadOurs(log);
    EXPECT_TRUE(fromLog.Errors.empty());
    EXPECT_EQ(fromLog.LeftOut, "1 CAN FD frame and 1 error frame were left out");
    const TOurs fromLen8 = ReadOurs(len8);
    ASSERT_EQ(fromLen8.Frames.size(), 1u);
    EXPECT_EQ(fromLen8.Frames[0].Length, 12);
    EXPECT_EQ(fromLen8.Frames[0].Data, "1122334455667788");

    // PEAK TRC 1.1 as PCAN-View writes it, with a remote frame and a warning line.
    const std::string trc11 = dir.File("view.trc");
    ASSERT_TRUE(WriteWholeFile(trc11, ";$FILEVERSION=1.1\r\n"
                                      ";$STARTTIME=43794.6429365741\r\n"
                                      ";\r\n"
                                      ";   Start time: 24.11.2019 15:25:49.717.0\r\n"
                                      ";---+--   ----+----  --+--  ----+---  +  -+ -- -- -- -- -- -- --\r\n"
                                      "     1)      2876.7  Rx         0100  8  00 11 22 33 44 55 66 77\r\n"
                                      "     2)      2877.3  Tx     00000300  4  01 02 03 04\r\n"
                                      "     3)      2900.0  Warng  FFFFFFFF  4  00 00 00 08  BUSHEAVY\r\n"
                                      "     4)      3000.1  Rx         0400  0\r\n"));
    const TOurs fromTrc = ReadOurs(trc11);
    EXPECT_TRUE(fromTrc.Errors.empty()) << fromTrc.Errors[0];

    // BLF: our writer's stored containers with padding after each container's last object,
    // an error frame object, and a BLF of error frames only.
    const std::string padded = dir.File("padded.blf");
    const std::string errorsOnly = dir.File("errors.blf");
    std::vector<TRecordFrame> frames = MixedCapture();
    ASSERT_TRUE(WriteWholeFile(padded, tcmtest::PaddedBlf(frames, 3)));
    ASSERT_TRUE(WriteWholeFile(errorsOnly, tcmtest::ErrorFramesBlf(frames[0].WallUs, 3)));
    const TOurs fromBlf = ReadOurs(padded);
    EXPECT_TRUE(fromBlf.Errors.empty()) << fromBlf.Errors[0];
    EXPECT_EQ(fromBlf.LeftOut, "1 error frame was left out");
    const TOurs fromErrors = ReadOurs(errorsOnly);
    EXPECT_TRUE(fromErrors.Frames.empty());
    EXPECT_EQ(fromErrors.LeftOut, "3 error frames were left out");

    // python-can reads them while tshark reads the pcapng below.
    auto byPython = std::async(std::launch::async, [&] { return PythonCanClassic({asc, log, trc11, padded}); });

    // pcapng as Wireshark saves it by default, with the absolute times tshark shows.
    const std::string pcap = dir.File("x.pcap");
    const std::string pcapng = dir.File("x.pcapng");
    WriteCapture(TRecordFormat::Pcap, pcap, frames);
    RunTool({"/usr/bin/editcap", "-F", "pcapng", pcap, pcapng});
    std::vector<std::string> tshark = {"/usr/bin/tshark", "-r", pcapng,  "--disable-protocol",
                                       "autosar-nm",      "-T", "fields"};
    for (const auto& field : kTsharkFields)
        tshark.insert(tshark.end(), {"-e", field});
    const auto fromTshark = ParseTsharkFields(RunTool(tshark), false);
    const TOurs fromPcapng = ReadOurs(pcapng);
    ASSERT_EQ(fromPcapng.Frames.size(), fromTshark.size());
    for (size_t i = 0; i < fromTshark.size(); ++i)
        EXPECT_EQ(fromPcapng.Frames[i].Us, fromTshark[i].Us);
    SameToTheMicrosecond(fromTshark, fromPcapng.Frames, pcapng);

    const auto theirs = byPython.get();
    SameToTheMicrosecond(theirs[0], fromAsc.Frames, asc);
    SameToTheMicrosecond(theirs[1], fromLog.Frames, log);
    SameToTheMicrosecond(theirs[2], fromTrc.Frames, trc11);
    SameToTheMicrosecond(theirs[3], fromBlf.Frames, padded);
}

TEST(ForeignFiles, ContainersThatClaimTooMuchAreSkippedUnread)
{
    TempDir dir;
    // Twenty containers of 20 MiB zeros each, about 20 KB each on disk.
    const std::string bomb = dir.File("bomb.blf");
    ASSERT_TRUE(WriteWholeFile(bomb, tcmtest::BombBlf(20, 20u << 20)));
    const TOurs r = ReadOurs(bomb);
    EXPECT_TRUE(r.Frames.empty());
    ASSERT_EQ(r.Errors.size(), 20u);
    EXPECT_NE(r.Errors[0].find("log container of 20971520 bytes (more than 16777216) skipped"), std::string::npos)
        << r.Errors[0];
}
