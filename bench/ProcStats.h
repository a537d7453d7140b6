#pragma once
// Readings of /proc shared by the benchmarks: memory of a process and CPU time
// of a process or thread.
#include <sys/types.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

// A field such as "VmRSS:" or "VmHWM:" of /proc/<pid>/status (this process
// when pid is 0) in KiB; -1 when it is missing or the process is gone.
inline long StatusKiB(const char* field, pid_t pid = 0)
{
    std::ifstream in(pid == 0 ? std::string("/proc/self/status") : "/proc/" + std::to_string(pid) + "/status");
    const std::string prefix(field);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(prefix, 0) == 0)
            return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
    return -1;
}

// CPU seconds (user + system) from a /proc stat file of a process or thread.
inline double StatCpuSeconds(const std::string& statPath)
{
    std::ifstream stat(statPath);
    const std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    if (close == std::string::npos || close + 2 > text.size())
        return 0;
    // Fields after the command name, which is in parentheses and may hold spaces.
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long long utime = 0;
    unsigned long long stime = 0;
    for (int n = 3; fields >> field; ++n) {
        if (n == 14)
            utime = std::stoull(field);
        if (n == 15) {
            stime = std::stoull(field);
            break;
        }
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

inline double ProcessCpuSeconds(pid_t pid)
{
    return StatCpuSeconds("/proc/" + std::to_string(pid) + "/stat");
}

// The system's load averages over 1, 5 and 15 minutes, as /proc/loadavg gives them.
inline std::string LoadAverage()
{
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}
