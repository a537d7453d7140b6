// tarvenix-can-dump writing recordings that real CAN tools read, filtering, and
// replaying a recording onto the simulated adapter.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <future>
#include <sstream>
#include <thread>

#include "SeeedSimulator.h"
#include "core/CanText.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace {

TCanFrame Make(const char* compact)
{
    return *ParseCompactFrame(compact);
}

// The frames the simulator puts on the bus: every kind, length and identifier width.
const std::vector<std::string> kBusFrames = {"123#DEADBEEF", "7FF#",        "000#0102030405060708",
                                             "1ABCDEF0#11",  "00000123#R",  "456#R4",
                                             "7FF#AA",       "1FFFFFFF#R8", "100#01.02.03"};

std::string Compact(TCanFrame f)
{
    return FormatCompactFrame(f);
}

std::string RunTool(std::vector<std::string> args)
{
    TChild child(args);
    const int status = child.WaitExit(20000);
    EXPECT_EQ(status, 0) << args[0] << ": " << child.ErrText;
    return child.OutText;
}

// One recording of the simulator's frames by can-dump: `format` into `file`,
// ending after `expected` frames passed `filters`.
struct TRecordJob {
    std::string Format;
    std::string File;
    std::vector<std::string> Filters;
    size_t Expected = 0;
};

// Runs the recordings side by side, each monitor on a simulator of its own, so
// that their opening waits overlap.
void Record(const std::vector<TRecordJob>& jobs)
{
    std::vector<std::unique_ptr<TSeeedSimulator>> sims;
    std::vector<std::unique_ptr<TChild>> dumps;
    for (const auto& job : jobs) {
        sims.push_back(std::make_unique<TSeeedSimulator>());
        ASSERT_TRUE(sims.back()->Start()) << sims.back()->LastError();
        std::vector<std::string> args = {
            TCM_CAN_DUMP_EXE, "--port",   sims.back()->PortPath(),      "--format", job.Format, "--output",
            job.File,         "--frames", std::to_string(job.Expected), "--log"};
        for (const auto& f : job.Filters) {
            args.push_back("--filter");
            args.push_back(f);
        }
        dumps.push_back(std::make_unique<TChild>(args));
    }
    // The monitor writes the engine's log (--log) from its main loop, which
    // starts once the channel runs and takes frames from the bus.
    for (const auto& dump : dumps)
        ASSERT_TRUE(dump->WaitForErrText("** Start", 5000)) << dump->ErrText;
    for (const auto& text : kBusFrames) {
        for (const auto& sim : sims)
            sim->SendFrame(Make(text.c_str()));
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
    for (size_t i = 0; i < jobs.size(); ++i)
        ASSERT_EQ(dumps[i]->WaitExit(10000), 0) << jobs[i].Format << ": " << dumps[i]->ErrText;
}

// The bus frames in compact form, but for those listed.
std::vector<std::string> Without(const std::vector<std::string>& dropped)
{
    std::vector<std::string> out;
    for (const auto& text : kBusFrames)
        if (std::find(dropped.begin(), dropped.end(), text) == dropped.end())
            out.push_back(Compact(Make(text.c_str())));
    return out;
}

} // namespace

TEST(CanDumpRecording, FormatsReadByCanUtilsTsharkAndPythonCanWithFilters)
{
    for (const char* tool : {"/usr/bin/log2asc", "/usr/bin/asc2log", "/usr/bin/tshark", "/usr/bin/python3"})
        ASSERT_EQ(::access(tool, X_OK), 0) << tool << " is missing: run scripts/setup.sh with TCM_TEST_TOOLS=1";
    TempDir dir;
    const auto all = Without({});
    const std::vector<std::string> ascFilters = {"100:700", "7FF:C00007FF"};
    Record({{"candump", dir.File("a.log"), {}, all.size()},
            {"asc", dir.File("b.asc"), ascFilters, 5},
            {"pcap", dir.File("c.pcap"), {"7FF~C00007FF"}, all.size() - 2},
            {"blf", dir.File("d.blf"), {"0:80000000", "00000123:80000FFF"}, all.size() - 2}});
    // tshark and python-can read their files while the can-utils are checked.
    auto byTshark = std::async(std::launch::async, [&] {
        // Without the payload guessers (identifier 0 reads as an AUTOSAR NM message otherwise).
        return RunTool({"/usr/bin/tshark",
                        "-r",
                        dir.File("c.pcap"),
                        "--disable-protocol",
                        "autosar-nm",
                        "--disable-protocol",
                        "signal-pdu",
                        "--disable-protocol",
                        "ipdum",
                        "-T",
                        "fields",
                        "-e",
                        "can.id",
                        "-e",
                        "can.flags.xtd",
                        "-e",
                        "can.flags.rtr",
                        "-e",
                        "can.len",
                        "-e",
                        "data.data"});
    });
    // BLF -> python-can, filters by kind: every standard frame, and extended identifier 123 only.
    const std::string script = "import can\n"
                               "for m in can.BLFReader('" +
                               dir.File("d.blf") +
                               "'):\n"
                               "    i = ('%08X' if m.is_extended_id else '%03X') % m.arbitration_id\n"
                               "    print(i + '#' + (('R%d' % m.dlc if m.dlc else 'R') if m.is_remote_frame"
                               " else m.data.hex().upper()))\n";
    auto byPython = std::async(std::launch::async, [&] { return RunTool({"/usr/bin/python3", "-c", script}); });

    // candump log -> log2asc: every line taken, ASC frame lines as sent.
    RunTool({"/usr/bin/log2asc", "-I", dir.File("a.log"), "-O", dir.File("a.asc"), "can0"});
    std::vector<std::string> fromLog;
    for (const auto& line : Lines(ReadWholeFile(dir.File("a.asc")))) {
        std::istringstream in(line);
        std::string time, channel, id, dir2, kind;
        int dlc = 0;
        if (!(in >> time >> channel >> id >> dir2 >> kind >> dlc) || (kind != "d" && kind != "r"))
            continue;
        const bool ext = id.back() == 'x';
        TCanFrame f;
        f.Standard = !ext;
        f.Id = static_cast<uint32_t>(std::stoul(ext ? id.substr(0, id.size() - 1) : id, nullptr, 16));
        f.Request = kind == "r";
        f.Length = dlc;
        for (int i = 0, byte = 0; !f.Request && i < dlc && in >> std::hex >> byte; ++i)
            f.Data[i] = static_cast<uint8_t>(byte);
        fromLog.push_back(Compact(f));
    }
    EXPECT_EQ(fromLog, all);

    // ASC -> asc2log, with two ID:MASK filters: identifiers 1xx, and standard data frames 7FF.
    RunTool({"/usr/bin/asc2log", "-I", dir.File("b.asc"), "-O", dir.File("b.log")});
    std::vector<std::string> fromAsc;
    for (const auto& line : Lines(ReadWholeFile(dir.File("b.log")))) {
        std::istringstream in(line);
        std::string time, channel, compact;
        in >> time >> channel >> compact;
        fromAsc.push_back(Compact(Make(compact.c_str())));
    }
    // 100:700 has no kind bits: 00000123 (extended, remote) passes too.
    EXPECT_EQ(fromAsc, (std::vector<std::string>{"123#DEADBEEF", "7FF#", "00000123#R", "7FF#AA", "100#010203"}));

    // pcap -> tshark, with an ID~MASK filter leaving out the standard data frames 7FF.
    std::vector<std::string> fromPcap;
    const std::string fields = byTshark.get();
    for (const auto& line : Lines(fields)) {
        std::istringstream in(line);
        TCanFrame f;
        int xtd = 0, rtr = 0;
        std::string data;
        in >> f.Id >> xtd >> rtr >> f.Length >> data;
        f.Standard = xtd == 0;
        f.Request = rtr != 0;
        for (size_t i = 0; i + 1 < data.size(); i += 2)
            f.Data[i / 2] = static_cast<uint8_t>(std::stoul(data.substr(i, 2), nullptr, 16));
        fromPcap.push_back(Compact(f));
    }
    EXPECT_EQ(fromPcap, Without({"7FF#", "7FF#AA"}));

    EXPECT_EQ(Lines(byPython.get()), Without({"1ABCDEF0#11", "1FFFFFFF#R8"}));
}

TEST(CanDumpRecording, ReplaySendsEveryFrameInOrderWhileReceiving)
{
    TempDir dir;
    // Written the way candump -L does, gaps of 0 to 60 ms; an unreadable line is reported and skipped,
    // the frame of a second bus left out and told once.
    ASSERT_TRUE(WriteWholeFile(dir.File("r.log"), "(1700000000.000000) can0 321#01\n"
                                                  "(1700000000.010000) can1 222#22\n"
                                                  "(1700000000.020000) can0 1ABCDEF0#0203\n"
                                                  "(1700000000.020500) can0 321#R2\n"
                                                  "(1700000000.021000) can0 12#34\n"
                                                  "(1700000000.080000) can0 7FF#FFEEDDCCBBAA9988\n"));
    TSeeedSimulator sim;
    ASSERT_TRUE(sim.Start()) << sim.LastError();
    TChild dump({TCM_CAN_DUMP_EXE, "--port", sim.PortPath(), "--replay", dir.File("r.log"), "--replay-loop", "3"});
    ASSERT_TRUE(sim.WaitFramesReceived(2, 5000)); // the probe and the first replayed frame
    sim.SendFrame(Make("555#55"));                // received while the replay runs
    // The replay is over once the adapter has its twelve frames, and the received
    // frame is printed; a stop signal then ends the monitor in order.
    ASSERT_TRUE(sim.WaitFramesReceived(13, 5000));
    std::string line;
    while (line.rfind("IN  ts: ", 0) != 0 && !(line = dump.ReadLine(5000)).empty()) {}
    EXPECT_EQ(line.rfind("IN  ts: ", 0), 0u) << dump.OutText;
    ::kill(dump.Id(), SIGTERM);
    ASSERT_EQ(dump.WaitExit(10000), 0) << dump.ErrText;
    EXPECT_NE(dump.ErrText.find("r.log: line 5"), std::string::npos) << dump.ErrText;
    const std::string leftOut = "Channels 1 and 2 found, channel 1 read. 1 frame of channel 2 was left out";
    EXPECT_NE(dump.ErrText.find(leftOut), std::string::npos) << dump.ErrText;
    EXPECT_EQ(dump.ErrText.find(leftOut), dump.ErrText.rfind(leftOut)) << dump.ErrText;
    EXPECT_NE(dump.ErrText.find("frames replayed: 12\nframes in: 1, frames out: 12"), std::string::npos)
        << dump.ErrText;

    const auto frames = sim.ReceivedFrames(); // the probe, then what the replay sent
    ASSERT_EQ(frames.size(), 13u);
    const std::vector<std::string> pass = {"321#01", "1ABCDEF0#0203", "321#R2", "7FF#FFEEDDCCBBAA9988"};
    for (size_t i = 1; i < frames.size(); ++i)
        EXPECT_EQ(Compact(frames[i]), pass[(i - 1) % pass.size()]) << i;
}

TEST(CanDumpRecording, BadRecordingArgumentsAndAWriteThatFails)
{
    const std::vector<std::vector<std::string>> bad = {{"--format", "csv"},
                                                       {"--filter", "123"},
                                                       {"--filter", "123:FFFFFFFFF"},
                                                       {"--replay-loop", "-1"},
                                                       {"--replay", "/nonexistent/r.log"},
                                                       {"--output", "/nonexistent/x.log"},
                                                       {"--dbc", "/dev/null", "--format", "pcap"}};
    for (auto args : bad) {
        args.insert(args.begin(), {TCM_CAN_DUMP_EXE, "--port", "ttyS99"});
        TChild child(args);
        EXPECT_EQ(child.WaitExit(5000), 2) << args[3] << " " << args[4] << ": " << child.ErrText;
    }

    // A full device: the failure is named and ends the monitor with status 1.
    TSeeedSimOptions traffic;
    traffic.FramesPerSecond = 2000;
    TSeeedSimulator sim(traffic);
    ASSERT_TRUE(sim.Start()) << sim.LastError();
    TChild full(
        {TCM_CAN_DUMP_EXE, "--port", sim.PortPath(), "--format", "asc", "--output", "/dev/full", "--duration", "5"});
    EXPECT_EQ(full.WaitExit(10000), 1) << full.ErrText;
    EXPECT_NE(full.ErrText.find("Unable to write to /dev/full: No space left on device"), std::string::npos)
        << full.ErrText;
}
