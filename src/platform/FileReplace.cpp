#include "platform/FileReplace.h"

#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/WriteAll.h"

namespace tcm {
namespace {

[[noreturn]] void Fail(int error, const std::string& what)
{
    throw std::system_error(error, std::generic_category(), what);
}

// Only this user's own regular files may be removed or replaced.
bool IsOwnRegularFile(const struct stat& st)
{
    return S_ISREG(st.st_mode) && st.st_uid == ::geteuid();
}

// Writes `content` to a fresh temporary file beside `path` and renames it over
// `path`. The new file takes the permissions (and, for root, the owner) of
// `like`; without one it gets the usual 0666 & ~umask.
void WriteAndRename(const std::string& path, const std::string& content, const struct stat* like)
{
    std::string temp;
    const int fd = CreateTempBeside(path, like ? 0600 : 0666, temp);
    const auto fail = [&](int error) {
        ::close(fd);
        ::unlink(temp.c_str());
        Fail(error, path);
    };
    if (like) {
        // Root replacing a user's file gives the new file back to its owner; a
        // refusal is no error. Set-id bits are not carried over.
        if (::geteuid() == 0)
            (void)!::fchown(fd, like->st_uid, like->st_gid);
        if (::fchmod(fd, like->st_mode & 0777) != 0)
            fail(errno);
    }
    if (const int error = WriteAll(fd, content.data(), content.size()); error != 0)
        fail(error);
    if (::fsync(fd) != 0)
        fail(errno);
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temp.c_str());
        Fail(error, path);
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temp.c_str());
        Fail(error, path);
    }
}

} // namespace

EPlantedFile::EPlantedFile(const std::string& path)
    : std::system_error(EEXIST, std::generic_category(), PlantedFileText(path)), PlantedPath(path)
{
}

std::string PlantedFileText(const std::string& path)
{
    return path + " is in the way and is left alone: it is not a regular file of this user";
}

void ReplaceFileContents(const std::string& path, const std::string& content)
{
    // Keep the permissions of an existing file.
    struct stat st {};
    const bool exists = ::stat(path.c_str(), &st) == 0;
    if (exists && S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0)
        Fail(EACCES, path);
    WriteAndRename(path, content, exists ? &st : nullptr);
}

int CreateTempBeside(const std::string& path, unsigned mode, std::string& tempPath)
{
    // The process id keeps RemoveStaleTempFiles working. O_EXCL and O_NOFOLLOW
    // never open what is already there: a name held by this user's regular
    // file (another file of this process, or a leftover of an earlier process
    // with the same id) is passed over for the next counter; a name held by
    // anything else was planted and stops the save.
    const std::string base = path + ".tmp-" + std::to_string(::getpid());
    for (unsigned n = 0; n < 100; ++n) {
        tempPath = n == 0 ? base : base + "-" + std::to_string(n);
        const int fd =
            ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, static_cast<mode_t>(mode));
        if (fd >= 0)
            return fd;
        if (errno != EEXIST)
            Fail(errno, tempPath);
        struct stat st {};
        if (::lstat(tempPath.c_str(), &st) != 0 || !IsOwnRegularFile(st))
            throw EPlantedFile(tempPath);
    }
    Fail(EEXIST, base);
}

void KeepFileCopy(const std::string& path, const std::string& backupPath)
{
    // An older copy is replaced only when it is this user's own file.
    struct stat old {};
    if (::lstat(backupPath.c_str(), &old) == 0 && !IsOwnRegularFile(old))
        throw EPlantedFile(backupPath);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        Fail(errno, path);
    struct stat st {};
    std::string content;
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            content.append(buffer, static_cast<size_t>(n));
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            const int error = errno;
            ::close(fd);
            Fail(error, path);
        }
    }
    const bool known = ::fstat(fd, &st) == 0;
    ::close(fd);
    if (!known) {
        st.st_mode = 0600;
        st.st_uid = ::geteuid();
        st.st_gid = ::getegid();
    }
    WriteAndRename(backupPath, content, &st);
}

std::vector<std::string> RemoveStaleTempFiles(const std::string& path)
{
    std::vector<std::string> leftAlone;
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "./" : path.substr(0, slash + 1);
    const std::string prefix = (slash == std::string::npos ? path : path.substr(slash + 1)) + ".tmp-";
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return leftAlone;
    while (const dirent* entry = ::readdir(dir)) {
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
        if (pid <= 0 || ::kill(pid, 0) == 0 || errno != ESRCH)
            continue;
        const std::string stale = folder + name;
        struct stat st {};
        if (::lstat(stale.c_str(), &st) != 0)
            continue;
        if (IsOwnRegularFile(st))
            ::unlink(stale.c_str());
        else
            leftAlone.push_back(stale);
    }
    ::closedir(dir);
    return leftAlone;
}

} // namespace tcm
