#pragma once
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/Logger.h"

// Polls `done` until it holds or `timeoutMs` passes; true when it held.
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 5000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// Takes every pending log line.
inline std::vector<std::string> TakeLog(TLogger& log)
{
    std::vector<std::string> lines;
    while (!log.IsEmpty())
        lines.push_back(log.TakeFirst());
    return lines;
}

inline bool HasLinePrefix(const std::vector<std::string>& lines, const std::string& prefix)
{
    for (const auto& line : lines)
        if (line.rfind(prefix, 0) == 0)
            return true;
    return false;
}
