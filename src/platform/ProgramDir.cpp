#include "platform/ProgramDir.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Version.h"
#include "platform/Mutex.h"

namespace tcm {
namespace {

const char kSettingsFileName[] = "TarvenixCanMonitor.ini";
const char kConfigFolderName[] = "TarvenixCanMonitor";

TMutex g_lock;
std::string g_override TCM_GUARDED_BY(g_lock);

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

std::string WithSlash(std::string dir)
{
    if (!dir.empty() && dir.back() != '/')
        dir.push_back('/');
    return dir;
}

std::string Env(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

// The folder without symbolic links and with a trailing '/'; as given when it
// cannot be resolved.
std::string Resolved(const std::string& dir)
{
    char buf[PATH_MAX];
    return WithSlash(::realpath(dir.c_str(), buf) ? std::string(buf) : dir);
}

// A folder that programs are installed into: this build's own install folder
// and the system's usual ones. A program there is never a portable copy, even
// for a user (root) who may write there.
bool IsInstallFolder(const std::string& dir)
{
    const std::string own = Resolved(dir);
    for (const char* installed : {TCM_INSTALL_BINDIR, "/usr/bin", "/usr/local/bin", "/bin"})
        if (own == Resolved(installed))
            return true;
    return false;
}

std::string DecideFilesDir()
{
    std::string home = Env("HOME");
    if (home.empty())
        if (const passwd* user = ::getpwuid(::geteuid()))
            home = user->pw_dir;
    const std::string dir = ChooseFilesDir(ExecutableDir(), Env("XDG_CONFIG_HOME"), home);
    MakeFolders(dir); // a failure shows later as the file's own write error
    return dir;
}

} // namespace

std::string ProgramDir()
{
    {
        TMutexLock guard(g_lock);
        if (!g_override.empty())
            return g_override;
    }
    static const std::string dir = ExecutableDir();
    return dir;
}

std::string ChooseFilesDir(const std::string& programDir, const std::string& xdgConfigHome, const std::string& home)
{
    const std::string own = WithSlash(programDir);
    // Write access as the effective user, the one who will create the files.
    if (!IsInstallFolder(own) &&
        (::eaccess(own.c_str(), W_OK | X_OK) == 0 || ::access((own + kSettingsFileName).c_str(), F_OK) == 0))
        return own;
    // A relative XDG_CONFIG_HOME is invalid and is ignored, as the base directory rules say.
    std::string base = xdgConfigHome;
    if (base.empty() || base.front() != '/')
        base = (home.empty() ? std::string() : WithSlash(home)) + ".config";
    return WithSlash(base) + kConfigFolderName + "/";
}

bool MakeFolders(const std::string& dir)
{
    struct stat st {};
    if (dir.empty() || (::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)))
        return !dir.empty();
    std::string path = dir;
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    const auto slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0 && !MakeFolders(path.substr(0, slash)))
        return false;
    return ::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

std::string FilesDir()
{
    {
        TMutexLock guard(g_lock);
        if (!g_override.empty())
            return g_override;
    }
    static const std::string dir = DecideFilesDir();
    return dir;
}

void SetProgramDirOverride(const std::string& dir)
{
    TMutexLock guard(g_lock);
    g_override = WithSlash(dir);
}

} // namespace tcm
