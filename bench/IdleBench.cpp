// What an open channel costs: tarvenix-can-dump on the in-process simulated
// adapter, measured from outside through /proc.
//
// 1. Idle: no traffic. Thread wake-ups a second (voluntary and involuntary
//    context switches of all its threads) and CPU as a share of one core.
// 2. Load: 10,000 frames/s, against `cat` reading a second simulator's
//    identical stream into a file at the same time: tarvenix-can-dump printing
//    every trace line to a file (target: at most 1.5 times cat's CPU), and
//    tarvenix-slcan passing every frame to a client that reads its terminal
//    into a file (target: at most 2 times cat's CPU). Three pairs each; the
//    median ratio counts.
//
//   bench_idle [--seconds S] [--dump PATH] [--slcan PATH]   (PATH: another build to compare)
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "SeeedSimulator.h"
#include "core/CanSettings.h"
#include "seeed/SeeedPacket.h"

namespace {

struct TSample {
    long Switches = 0;
    double CpuSeconds = 0;
};

// Context switches of every thread, and their time on a CPU, of `pid`.
TSample Sample(pid_t pid)
{
    TSample s;
    const std::string base = "/proc/" + std::to_string(pid);
    if (DIR* dir = opendir((base + "/task").c_str())) {
        while (const dirent* e = readdir(dir)) {
            if (e->d_name[0] == '.')
                continue;
            std::ifstream in(base + "/task/" + e->d_name + "/status");
            std::string line;
            while (std::getline(in, line))
                if (line.rfind("voluntary_ctxt_switches:", 0) == 0 || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
                    s.Switches += std::strtol(line.c_str() + line.find(':') + 1, nullptr, 10);
            // Time on a CPU in nanoseconds: finer than the clock ticks of /proc/PID/stat.
            std::ifstream sched(base + "/task/" + e->d_name + "/schedstat");
            double ns = 0;
            if (sched >> ns)
                s.CpuSeconds += ns / 1e9;
        }
        closedir(dir);
    }
    return s;
}

// The bytes that start the adapter in normal mode, as the monitor does.
std::string AdapterStart()
{
    TCanSettings settings;
    settings.Rate = 250000;
    const TSeeedPacketSetAndStart start(settings, kSeeedModeNormal);
    return std::string(reinterpret_cast<const char*>(start.Wire()), static_cast<size_t>(start.Size()));
}

// Runs `argv` with standard output into `outFile` (and, when given, standard
// input from the terminal `inTty`, put into raw mode first, after `greeting`
// was written to it).
pid_t Spawn(const std::vector<std::string>& args, const std::string& outFile, const std::string& inTty = "",
            const std::string& greeting = AdapterStart())
{
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    const int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    if (!inTty.empty()) {
        const int in = open(inTty.c_str(), O_RDWR | O_NOCTTY);
        termios tio{};
        tcgetattr(in, &tio);
        cfmakeraw(&tio);
        tcsetattr(in, TCSANOW, &tio);
        if (write(in, greeting.data(), greeting.size()) != static_cast<ssize_t>(greeting.size()))
            _exit(126);
        dup2(in, 0);
    }
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}

void End(pid_t pid)
{
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

struct TRate {
    double WakeupsPerSecond;
    double CpuShare; // of one core
};

TRate Measure(pid_t pid, double seconds)
{
    const TSample a = Sample(pid);
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const TSample b = Sample(pid);
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    return {static_cast<double>(b.Switches - a.Switches) / elapsed, (b.CpuSeconds - a.CpuSeconds) / elapsed};
}

} // namespace

int main(int argc, char** argv)
{
    double seconds = 10;
    std::string dump = TCM_CAN_DUMP_EXE;
    std::string slcan = TCM_SLCAN_EXE;
    for (int i = 1; i + 1 < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--seconds")
            seconds = std::atof(argv[i + 1]);
        else if (a == "--dump")
            dump = argv[i + 1];
        else if (a == "--slcan")
            slcan = argv[i + 1];
    }
    const std::string out = "/tmp/tcm-bench-idle-" + std::to_string(getpid());

    {
        TSeeedSimulator sim;
        if (!sim.Start())
            return 1;
        const pid_t child = Spawn({dump, "--port", sim.PortPath()}, out + ".idle");
        std::this_thread::sleep_for(std::chrono::milliseconds(1500)); // the 400 ms start, then settling
        const TRate idle = Measure(child, seconds);
        End(child);
        std::printf("idle open channel, tarvenix-can-dump, %.0f s: %.1f wake-ups/s, %.3f %% of a core\n", seconds,
                    idle.WakeupsPerSecond, idle.CpuShare * 100.0);
    }
    // A program under load beside cat: one pair's CPU shares and rates.
    struct TPair {
        double Program = 0, Cat = 0, ProgramRate = 0, CatRate = 0;
    };
    const auto runPair = [&](bool bridge) {
        TSeeedSimOptions traffic;
        traffic.FramesPerSecond = 10000;
        TSeeedSimulator forProgram(traffic);
        TSeeedSimulator forCat(traffic);
        TPair pair;
        if (!forProgram.Start() || !forCat.Start())
            return pair;
        pid_t child = -1, client = -1;
        if (bridge) {
            // The bridge prints its terminal's path; a cat opens the channel (O) and reads every frame line.
            child = Spawn({slcan, "--port", forProgram.PortPath()}, out + ".slcan");
            std::string terminal;
            for (int i = 0; i < 50 && terminal.empty(); ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                std::ifstream first(out + ".slcan");
                std::getline(first, terminal);
            }
            client = Spawn({"/bin/cat"}, out + ".client", terminal, "O\r");
        } else {
            child = Spawn({dump, "--port", forProgram.PortPath()}, out + ".dump");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        const pid_t cat = Spawn({"/bin/cat"}, out + ".cat", forCat.PortPath());
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const TSample d0 = Sample(child), c0 = Sample(cat);
        const uint64_t f0 = forProgram.Counters().FramesSent, g0 = forCat.Counters().FramesSent;
        const auto t0 = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        const TSample d1 = Sample(child), c1 = Sample(cat);
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        pair.ProgramRate = static_cast<double>(forProgram.Counters().FramesSent - f0) / elapsed;
        pair.CatRate = static_cast<double>(forCat.Counters().FramesSent - g0) / elapsed;
        pair.Program = (d1.CpuSeconds - d0.CpuSeconds) / elapsed;
        pair.Cat = (c1.CpuSeconds - c0.CpuSeconds) / elapsed;
        End(child);
        if (client > 0)
            End(client);
        End(cat);
        return pair;
    };
    bool measured = true;
    for (const bool bridge : {false, true}) {
        const char* name = bridge ? "tarvenix-slcan" : "tarvenix-can-dump";
        const double target = bridge ? 2.0 : 1.5;
        std::vector<double> ratios;
        for (int i = 0; i < 3; ++i) {
            const TPair p = runPair(bridge);
            if (p.Cat <= 0 || p.ProgramRate < 9000 || p.CatRate < 9000) {
                std::printf("load: %s pair %d not measured (rates %.0f and %.0f frames/s)\n", name, i + 1,
                            p.ProgramRate, p.CatRate);
                measured = false;
                continue;
            }
            ratios.push_back(p.Program / p.Cat);
            std::printf("load: %s %.0f frames/s%s: %.2f %% of a core; cat %.0f frames/s into a file: %.2f %%; "
                        "ratio %.2f\n",
                        name, p.ProgramRate, bridge ? " to a client reading its terminal" : " printed to a file",
                        p.Program * 100.0, p.CatRate, p.Cat * 100.0, ratios.back());
        }
        if (ratios.empty())
            continue;
        std::sort(ratios.begin(), ratios.end());
        const double median = ratios[ratios.size() / 2];
        std::printf("load: %s / cat CPU, median of %zu pairs: %.2f (target %.1f: %s)\n", name, ratios.size(), median,
                    target, median <= target ? "met" : "NOT met");
    }
    for (const char* suffix : {".idle", ".dump", ".cat", ".slcan", ".client"})
        unlink((out + suffix).c_str());
    return measured ? 0 : 1;
}
