#include "core/Logger.h"

void TLogger::Add(std::string line)
{
    tcm::TMutexLock guard(Lock);
    Lines.push_back(std::move(line));
}

bool TLogger::IsEmpty() const
{
    tcm::TMutexLock guard(Lock);
    return Lines.empty();
}

std::string TLogger::TakeFirst()
{
    tcm::TMutexLock guard(Lock);
    if (Lines.empty())
        return {};
    std::string line = std::move(Lines.front());
    Lines.pop_front();
    return line;
}
