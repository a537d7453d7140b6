#include "core/Logger.h"

void TLogger::Add(std::string line)
{
    std::lock_guard<std::mutex> guard(Lock);
    Lines.push_back(std::move(line));
}

bool TLogger::IsEmpty() const
{
    std::lock_guard<std::mutex> guard(Lock);
    return Lines.empty();
}

std::string TLogger::TakeFirst()
{
    std::lock_guard<std::mutex> guard(Lock);
    if (Lines.empty())
        return {};
    std::string line = std::move(Lines.front());
    Lines.pop_front();
    return line;
}
