// tarvenix-extcap as Wireshark uses it: found by tshark in the personal extcap
// folder, configured with -o, capturing the in-process simulator's frames.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "SeeedSimulator.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace {

const char kTshark[] = "/usr/bin/tshark";
const char kIface[] = "tarvenix_seeed";

// A personal Wireshark configuration folder holding the program in its extcap
// folder; tshark finds it through XDG_CONFIG_HOME. Wireshark's own extcap
// programs stay out of sight (WIRESHARK_EXTCAP_DIR names an empty folder):
// tshark runs each of them two or three times at every start, and that is most
// of what a capture costs here. Wireshark ignores that variable for root, so
// root runs tshark as the unprivileged user nobody (as users run it), for whom
// the folders here are open and the program is a copy of its own.
class TWiresharkHome {
public:
    TWiresharkHome()
    {
        const std::string extcap = Dir.File("wireshark/extcap");
        for (const char* folder : {"", "wireshark", "wireshark/extcap", "system-extcap", "bin"})
            ::mkdir(Dir.File(folder).c_str(), 0755);
        ::chmod(Dir.Path().c_str(), 0777); // captures are written here
        std::filesystem::copy_file(TCM_EXTCAP_EXE, Dir.File("bin/tarvenix-extcap"));
        EXPECT_EQ(::symlink(Dir.File("bin/tarvenix-extcap").c_str(), (extcap + "/tarvenix-extcap").c_str()), 0);
        ::setenv("XDG_CONFIG_HOME", Dir.Path().c_str(), 1);
        ::setenv("HOME", Dir.Path().c_str(), 1);
        ::setenv("WIRESHARK_EXTCAP_DIR", Dir.File("system-extcap").c_str(), 1);
    }
    std::string File(const std::string& name) const { return Dir.File(name); }

    // tshark with `args`, as nobody when we are root.
    static std::vector<std::string> Tshark(std::vector<std::string> args)
    {
        args.insert(args.begin(), kTshark);
        return AsUserWhenRoot(std::move(args));
    }
    // A simulator whose port tshark's user may open.
    static std::unique_ptr<TSeeedSimulator> StartSim()
    {
        auto sim = std::make_unique<TSeeedSimulator>();
        EXPECT_TRUE(sim->Start()) << sim->LastError();
        EXPECT_EQ(::chmod(sim->PortPath().c_str(), 0666), 0);
        return sim;
    }

private:
    TempDir Dir;
};

TCanFrame Frame(uint32_t id, bool standard, bool remote, int length)
{
    TCanFrame f;
    f.Id = id;
    f.Standard = standard;
    f.Request = remote;
    f.Length = length;
    for (int i = 0; i < 8; ++i)
        f.Data[i] = static_cast<uint8_t>(0x11 * (i + 1) + length);
    return f;
}

// The fields line tshark prints for a frame: id, extended, remote, length, data.
std::string FieldsLine(const TCanFrame& f)
{
    std::string line = std::to_string(f.Id) + "\t" + (f.Standard ? "0" : "1") + "\t" + (f.Request ? "1" : "0") + "\t" +
                       std::to_string(f.Length) + "\t";
    if (!f.Request) {
        for (int i = 0; i < f.Length; ++i) {
            char b[3];
            std::snprintf(b, sizeof b, "%02x", f.Data[i]);
            line += b;
        }
    }
    return line;
}

const char* const kFields[] = {"-T", "fields",        "-e", "can.id",  "-e", "can.flags.xtd",
                               "-e", "can.flags.rtr", "-e", "can.len", "-e", "data.data"};

std::vector<std::string> WithFields(std::vector<std::string> args)
{
    args.insert(args.end(), std::begin(kFields), std::end(kFields));
    return args;
}

// What tshark printed for the frames: lines with a tab, remote frames without data.
std::vector<std::string> FrameLines(const std::string& out)
{
    std::vector<std::string> lines;
    for (auto line : Lines(out)) {
        if (line.find('\t') == std::string::npos)
            continue;
        const auto tabs = std::count(line.begin(), line.end(), '\t');
        if (tabs == 4 && line.find("\t1\t", line.find('\t')) == line.find('\t') + 2) // remote: drop the zero data
            line.erase(line.rfind('\t') + 1);
        lines.push_back(line);
    }
    return lines;
}

// tshark's arguments for a capture of the simulator that ends after `frames`
// packets (or, should some never come, after twenty seconds).
std::vector<std::string> CaptureArgs(const TSeeedSimulator& sim, size_t frames, std::vector<std::string> extra)
{
    std::vector<std::string> args = {"-i", kIface,
                                     "-o", std::string("extcap.") + kIface + ".port:" + sim.PortPath(),
                                     "-c", std::to_string(frames),
                                     "-a", "duration:20"};
    args.insert(args.end(), extra.begin(), extra.end());
    return TWiresharkHome::Tshark(args);
}

// Sends `frames` once the capture has opened the channel: the program writes
// the capture's file header only then, and tshark tells when it has read it.
void SendWhenOpen(TChild& tshark, TSeeedSimulator& sim, const std::vector<TCanFrame>& frames)
{
    ASSERT_TRUE(tshark.WaitForErrText("Capture started", 15000)) << "the capture did not start: " << tshark.ErrText;
    for (const auto& f : frames)
        sim.SendFrame(f);
}

} // namespace

TEST(Extcap, TsharkFindsItAndCapturesTheSimulatorsFrames)
{
    if (::access(kTshark, X_OK) != 0)
        FAIL() << kTshark << " is missing: install tshark (scripts/setup.sh with TCM_TEST_TOOLS=1)";
    TWiresharkHome home;
    const std::string pref = std::string("extcap.") + kIface;
    const std::vector<TCanFrame> frames = {Frame(0x123, true, false, 8), Frame(0x1FFFFFFF, false, false, 3),
                                           Frame(0x7FF, true, true, 2),  Frame(0x00000001, false, true, 0),
                                           Frame(0x000, true, false, 0), Frame(0x18DAF110, false, false, 5)};
    std::vector<std::string> expected;
    for (const auto& f : frames)
        expected.push_back(FieldsLine(f));

    // Four runs of tshark side by side: the interface list, a capture into a
    // file at 125 kbit/s in Extended mode, a live one with -T fields on a second
    // adapter, and one of a port that cannot be opened.
    auto sim = TWiresharkHome::StartSim();
    auto liveSim = TWiresharkHome::StartSim();
    const std::string file = home.File("capture.pcapng");
    TChild list(TWiresharkHome::Tshark({"-D"}));
    TChild toFile(
        CaptureArgs(*sim, frames.size(), {"-o", pref + ".rate:125000", "-o", pref + ".extended:true", "-w", file}));
    TChild live(CaptureArgs(*liveSim, frames.size(), WithFields({})));
    TChild missing(
        TWiresharkHome::Tshark({"-i", kIface, "-o", pref + ".port:/dev/tcm-missing-port", "-a", "duration:2"}));

    EXPECT_EQ(list.WaitExit(30000), 0) << list.ErrText;
    EXPECT_NE(list.OutText.find(std::string(". ") + kIface + " (Seeed USB-CAN adapter"), std::string::npos)
        << list.OutText;

    TChild config({TCM_EXTCAP_EXE, "--extcap-interface", kIface, "--extcap-config"});
    EXPECT_EQ(config.WaitExit(10000), 0) << config.ErrText;
    int rates = 0;
    for (const auto& line : Lines(config.OutText))
        rates += line.rfind("value {arg=2}", 0) == 0 ? 1 : 0;
    EXPECT_EQ(rates, 12) << config.OutText;

    // The file capture, read back by tshark.
    SendWhenOpen(toFile, *sim, frames);
    SendWhenOpen(live, *liveSim, frames);
    EXPECT_EQ(toFile.WaitExit(30000), 0) << toFile.ErrText;
    const auto settings = sim->ReceivedSettings();
    ASSERT_EQ(settings.size(), 2u);
    EXPECT_EQ(settings[1].Rate, 125000);
    EXPECT_TRUE(settings[1].Extended);
    TChild read(TWiresharkHome::Tshark(WithFields({"-r", file})));

    // Live with -T fields, at the default rate.
    EXPECT_EQ(live.WaitExit(30000), 0) << live.ErrText;
    EXPECT_EQ(FrameLines(live.OutText), expected) << live.OutText << live.ErrText;
    EXPECT_EQ(liveSim->ReceivedSettings().back().Rate, 250000);

    EXPECT_EQ(read.WaitExit(30000), 0) << read.ErrText;
    EXPECT_EQ(FrameLines(read.OutText), expected) << read.OutText;

    // The port that cannot be opened: the adapter's error where Wireshark shows it.
    EXPECT_NE(missing.WaitExit(30000), 0) << missing.OutText << missing.ErrText;
    EXPECT_NE(missing.ErrText.find("Opening port is failed!"), std::string::npos) << missing.ErrText;
}

TEST(Extcap, EndsWhenTheFifoClosesOrOnSigterm)
{
    TempDir dir;
    auto sim = std::make_unique<TSeeedSimulator>();
    ASSERT_TRUE(sim->Start()) << sim->LastError();
    const std::string fifo = dir.File("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const bool bySignal : {false, true}) {
        TChild capture(
            {TCM_EXTCAP_EXE, "--capture", "--extcap-interface", kIface, "--fifo", fifo, "--port", sim->PortPath()});
        const int reader = ::open(fifo.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(reader, 0);
        uint8_t header[24] = {};
        EXPECT_EQ(::read(reader, header, sizeof header), 24);
        EXPECT_EQ(header[20], 227); // link type, little-endian here
        // Without a frame coming meanwhile the program sees the closed fifo by itself.
        if (bySignal)
            ::kill(capture.Id(), SIGTERM);
        else
            ::close(reader);
        EXPECT_EQ(capture.WaitExit(5000), 0) << capture.ErrText;
        if (bySignal)
            ::close(reader);
    }
    // Each run closed its channel: two openings, and the port is free again.
    EXPECT_EQ(sim->ReceivedSettings().size(), 4u);
}

// Wireshark may end the program before it ever opens the fifo's reading side.
TEST(Extcap, EndsOnEveryStopSignalWhileNoReaderComes)
{
    TempDir dir;
    const std::string fifo = dir.File("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
        TChild capture(
            {TCM_EXTCAP_EXE, "--capture", "--extcap-interface", kIface, "--fifo", fifo, "--port", "/dev/null"});
        ASSERT_TRUE(capture.WaitCatches(sig, 5000)) << strsignal(sig);
        ::usleep(50000); // inside the wait for a reader by now
        ::kill(capture.Id(), sig);
        EXPECT_EQ(capture.WaitExit(2000), 0) << strsignal(sig) << capture.ErrText;
    }
}
