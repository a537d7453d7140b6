#include "platform/FileReplace.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace tcm {
namespace {

[[noreturn]] void Fail(int error, const std::string& what)
{
    throw std::system_error(error, std::generic_category(), what);
}

} // namespace

void ReplaceFileContents(const std::string& path, const std::string& content)
{
    // Keep the permissions of an existing file; new files get the usual 0666 & ~umask.
    mode_t mode = 0666;
    struct stat st {};
    if (stat(path.c_str(), &st) == 0) {
        mode = st.st_mode & 07777;
        if (S_ISREG(st.st_mode) && (mode & 0222) == 0)
            Fail(EACCES, path);
    }

    const std::string temp = path + ".tmp-" + std::to_string(getpid());
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0)
        Fail(errno, path);

    const char* p = content.data();
    size_t left = content.size();
    while (left > 0) {
        const ssize_t n = write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            close(fd);
            unlink(temp.c_str());
            Fail(error, path);
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    if (fsync(fd) != 0 || close(fd) != 0) {
        const int error = errno;
        unlink(temp.c_str());
        Fail(error, path);
    }
    if (rename(temp.c_str(), path.c_str()) != 0) {
        const int error = errno;
        unlink(temp.c_str());
        Fail(error, path);
    }
}

int CreateTempBeside(const std::string& path, unsigned mode, std::string& tempPath)
{
    // The process id keeps RemoveStaleTempFiles working; a second file of the
    // same process gets a counter after it.
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const unsigned n = counter.fetch_add(1);
        tempPath = path + ".tmp-" + std::to_string(getpid()) + (n == 0 ? "" : "-" + std::to_string(n));
        const int fd =
            open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, static_cast<mode_t>(mode));
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

void KeepFileCopy(const std::string& path, const std::string& backupPath)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        Fail(errno, path);
    std::string content;
    char buffer[16384];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) {
            content.append(buffer, static_cast<size_t>(n));
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            const int error = errno;
            close(fd);
            Fail(error, path);
        }
    }
    close(fd);
    ReplaceFileContents(backupPath, content);
}

void RemoveStaleTempFiles(const std::string& path)
{
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "./" : path.substr(0, slash + 1);
    const std::string prefix = (slash == std::string::npos ? path : path.substr(slash + 1)) + ".tmp-";
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0)
            continue;
        std::string digits = name.substr(prefix.size());
        // "PID" or "PID-N" (a process's second file).
        const size_t dash = digits.find('-');
        if (dash != std::string::npos) {
            const std::string counter = digits.substr(dash + 1);
            if (counter.empty() || counter.find_first_not_of("0123456789") != std::string::npos)
                continue;
            digits.resize(dash);
        }
        if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const pid_t pid = static_cast<pid_t>(std::stol(digits));
        // ESRCH: no such process. EPERM means it runs under another user: keep its file.
        if (pid > 0 && kill(pid, 0) != 0 && errno == ESRCH)
            unlink((folder + name).c_str());
    }
    closedir(dir);
}

} // namespace tcm
