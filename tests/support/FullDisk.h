#pragma once
// For tests of a full disk: a cache folder of the test's own, and a child
// process whose files cannot grow past a limit, as on a full disk.
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "support/TempDir.h"

// Points XDG_CACHE_HOME at a fresh folder (where the program keeps its cache
// files) until the end of the scope, then puts the old setting back.
class TCacheHome {
public:
    TCacheHome()
    {
        const char* old = std::getenv("XDG_CACHE_HOME");
        HadOld = old != nullptr;
        Old = old ? old : "";
        setenv("XDG_CACHE_HOME", Root().c_str(), 1);
    }
    ~TCacheHome() { HadOld ? setenv("XDG_CACHE_HOME", Old.c_str(), 1) : unsetenv("XDG_CACHE_HOME"); }
    TCacheHome(const TCacheHome&) = delete;
    TCacheHome& operator=(const TCacheHome&) = delete;

    std::string Root() const { return Dir.Path().substr(0, Dir.Path().size() - 1); }
    // The program's own folder in it.
    std::filesystem::path Folder() const { return Root() + "/TarvenixCanMonitor"; }

private:
    TempDir Dir;
    std::string Old;
    bool HadOld = false;
};

// Runs `body` in a child process whose files cannot grow past `fileBytes`:
// the write that crosses the limit fails with EFBIG. Returns what `body`
// returned (its exit code), 128 + the signal that ended the child, or -1 when
// no child could be started.
inline int RunWithFileLimit(rlim_t fileBytes, const std::function<int()>& body)
{
    const pid_t child = fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{fileBytes, fileBytes};
        setrlimit(RLIMIT_FSIZE, &limit);
        _exit(body());
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
