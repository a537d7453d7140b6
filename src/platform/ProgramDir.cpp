#include "platform/ProgramDir.h"

#include <mutex>
#include <unistd.h>

namespace tcm {
namespace {

std::mutex g_lock;
std::string g_override;

std::string ExecutableDir()
{
    char buf[4096];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    if (n <= 0)
        return "./";
    std::string path(buf, static_cast<size_t>(n));
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

} // namespace

std::string ProgramDir()
{
    {
        std::lock_guard<std::mutex> guard(g_lock);
        if (!g_override.empty())
            return g_override;
    }
    static const std::string dir = ExecutableDir();
    return dir;
}

void SetProgramDirOverride(const std::string& dir)
{
    std::lock_guard<std::mutex> guard(g_lock);
    g_override = dir;
    if (!g_override.empty() && g_override.back() != '/')
        g_override.push_back('/');
}

} // namespace tcm
