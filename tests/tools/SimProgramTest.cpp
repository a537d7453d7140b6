// The tarvenix-seeed-sim program, run as a child process.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "TestPort.h"
#include "TrafficGenerator.h"

extern char** environ;

namespace {

using TClock = std::chrono::steady_clock;

class TChild {
public:
    explicit TChild(std::vector<std::string> args)
    {
        args.insert(args.begin(), TCM_SEEED_SIM_EXE);
        int out[2];
        int err[2];
        if (::pipe(out) != 0 || ::pipe(err) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        posix_spawn_file_actions_addclose(&actions, err[0]);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&Pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            Pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        Out = out[0];
        Err = err[0];
    }
    ~TChild()
    {
        if (Pid > 0 && !Exited) {
            ::kill(Pid, SIGKILL);
            ::waitpid(Pid, nullptr, 0);
        }
        if (Out >= 0)
            ::close(Out);
        if (Err >= 0)
            ::close(Err);
    }

    bool Started() const { return Pid > 0; }
    pid_t Id() const { return Pid; }

    // The next line of stdout without its newline; empty after the time-out or at the end.
    std::string ReadLine(int timeoutMs)
    {
        const auto end = TClock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const size_t nl = OutText.find('\n');
            if (nl != std::string::npos) {
                std::string line = OutText.substr(0, nl);
                OutText.erase(0, nl + 1);
                return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - TClock::now()).count();
            if (left <= 0 || !ReadInto(Out, OutText, static_cast<int>(left)))
                return {};
        }
    }
    // Waits for the exit, collecting the rest of both outputs; the exit status, or
    // -1 when it did not end in time (it is then killed).
    int WaitExit(int timeoutMs)
    {
        const auto end = TClock::now() + std::chrono::milliseconds(timeoutMs);
        bool outOpen = true;
        bool errOpen = true;
        while (outOpen || errOpen) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - TClock::now()).count();
            if (left <= 0)
                return -1;
            if (outOpen)
                outOpen = ReadInto(Out, OutText, static_cast<int>(std::min<long long>(left, 20)), true);
            if (errOpen)
                errOpen = ReadInto(Err, ErrText, static_cast<int>(std::min<long long>(left, 20)), true);
        }
        int status = 0;
        if (::waitpid(Pid, &status, 0) != Pid)
            return -1;
        Exited = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    std::string OutText; // stdout not yet taken by ReadLine
    std::string ErrText;

private:
    // Reads what is there; false at the end of the stream (or, unless
    // `timeoutIsOpen`, on a time-out).
    static bool ReadInto(int fd, std::string& text, int timeoutMs, bool timeoutIsOpen = false)
    {
        pollfd p{fd, POLLIN, 0};
        const int r = ::poll(&p, 1, timeoutMs);
        if (r == 0)
            return timeoutIsOpen;
        char buffer[4096];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        text.append(buffer, static_cast<size_t>(n));
        return true;
    }

    pid_t Pid = -1;
    int Out = -1;
    int Err = -1;
    bool Exited = false;
};

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        if (nl == std::string::npos)
            nl = text.size();
        lines.push_back(text.substr(start, nl - start));
        start = nl + 1;
    }
    return lines;
}

TCanFrame Probe()
{
    TCanFrame f;
    f.Id = 0x7A5;
    f.Standard = true;
    f.Length = 8;
    return f;
}

TEST(SeeedSimProgram, PrintsItsPortFirstThenWhatTheComputerSent)
{
    TChild sim({});
    ASSERT_TRUE(sim.Started());
    const std::string path = sim.ReadLine(10000);
    ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
    TTestPort port(path);
    ASSERT_TRUE(port.IsOpen());
    ASSERT_TRUE(port.Write(TSeeedPacketSetAndStart({250000, false}, kSeeedModeLoopback)));
    const auto probe = WireBytes(TSeeedPacketFrame(Probe()));
    ASSERT_TRUE(port.Write(probe));
    EXPECT_EQ(port.ReadExactly(20, 5000), probe);
    TCanFrame remote;
    remote.Id = 0x18DA00F1;
    remote.Request = true;
    ASSERT_TRUE(port.Write(TSeeedPacketFrame(remote)));
    ASSERT_TRUE(port.Write(TSeeedPacketSetAndStart({500000, true}, kSeeedModeNormal)));

    EXPECT_EQ(sim.ReadLine(5000), "settings: rate 250000 mode Standard working mode loopback");
    EXPECT_EQ(sim.ReadLine(5000), "frame: id 7A5 std data len 8 data 00 00 00 00 00 00 00 00");
    EXPECT_EQ(sim.ReadLine(5000), "frame: id 18DA00F1 ext remote len 0");
    EXPECT_EQ(sim.ReadLine(5000), "settings: rate 500000 mode Extended working mode normal");

    ASSERT_EQ(::kill(sim.Id(), SIGTERM), 0);
    EXPECT_EQ(sim.WaitExit(10000), 0);
    EXPECT_EQ(sim.OutText, "");
}

TEST(SeeedSimProgram, EndsAfterItsDurationAndGeneratesQuietly)
{
    TChild sim({"--duration", "1", "--fps", "500", "--quiet", "--stats", "--extended", "--ids", "3"});
    ASSERT_TRUE(sim.Started());
    const auto started = TClock::now();
    const std::string path = sim.ReadLine(10000);
    ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
    TTestPort port(path);
    ASSERT_TRUE(port.IsOpen());
    ASSERT_TRUE(port.Write(TSeeedPacketSetAndStart({125000, true}, kSeeedModeNormal)));
    TReceivedStream in;
    in.ReadFrames(port, 100, 10000);
    ASSERT_GE(in.Frames.size(), 100u);
    TSeeedSimOptions o;
    o.IdCount = 3;
    o.IdKind = TSimIdKind::Extended;
    const TTrafficGenerator slots(o);
    for (size_t i = 0; i < in.Frames.size(); ++i) {
        uint32_t seq = 0;
        ASSERT_TRUE(TTrafficGenerator::SequenceOf(in.Frames[i], seq));
        ASSERT_EQ(seq, i);
        ASSERT_EQ(in.Frames[i].Id, slots.SlotOf(seq).Id);
    }
    EXPECT_EQ(sim.WaitExit(20000), 0);
    EXPECT_GE(std::chrono::duration<double>(TClock::now() - started).count(), 0.9);
    // Only the settings line: --quiet leaves out frame lines.
    EXPECT_EQ(Lines(sim.OutText), std::vector<std::string>{"settings: rate 125000 mode Extended working mode normal"});
    EXPECT_NE(sim.ErrText.find("total: generated "), std::string::npos) << sim.ErrText;
}

TEST(SeeedSimProgram, BadArgumentsExitTwoWithUsage)
{
    const std::vector<std::vector<std::string>> bad = {
        {"--bogus"},           {"--fps"},           {"--fps", "-3"},         {"--length", "9"},
        {"--garbage", "1.5"},  {"--remote-share", "x"}, {"--ids", "0"},      {"--id-list", "800"},
        {"--id-list", "1,,2"}, {"--extended", "--mixed"}, {"--baud", "5"},   {"--duration", "1s"},
    };
    for (const auto& args : bad) {
        TChild sim(args);
        ASSERT_TRUE(sim.Started());
        EXPECT_EQ(sim.WaitExit(10000), 2) << args[0];
        EXPECT_NE(sim.ErrText.find("Usage: tarvenix-seeed-sim"), std::string::npos) << args[0];
        EXPECT_EQ(sim.OutText, "") << args[0];
    }
    TChild help({"--help"});
    EXPECT_EQ(help.WaitExit(10000), 0);
    EXPECT_EQ(help.OutText.rfind("Usage: tarvenix-seeed-sim", 0), 0u);
    // Identifiers above 11 bits are fine once extended.
    TChild ok({"--id-list", "800,1FFFFFFF", "--extended", "--duration", "0"});
    EXPECT_EQ(ok.WaitExit(10000), 0) << ok.ErrText;
}

} // namespace
