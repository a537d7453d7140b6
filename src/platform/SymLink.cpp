#include "platform/SymLink.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace tcm {

namespace {

std::string Reason(const std::string& what, int error)
{
    return what + ": " + std::strerror(error) + " (errno " + std::to_string(error) + ")";
}

} // namespace

bool PlaceSymlink(const std::string& link, const std::string& target, std::string& error)
{
    struct stat st {};
    if (::lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        error = link + " exists and is not a symbolic link";
        return false;
    }
    const std::string temporary = link + ".new-" + std::to_string(::getpid());
    ::unlink(temporary.c_str());
    if (::symlink(target.c_str(), temporary.c_str()) != 0) {
        error = Reason("Cannot create the link " + link, errno);
        return false;
    }
    if (::rename(temporary.c_str(), link.c_str()) != 0) {
        error = Reason("Cannot create the link " + link, errno);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

void RemoveSymlinkTo(const std::string& link, const std::string& target)
{
    char buffer[4096];
    const ssize_t n = ::readlink(link.c_str(), buffer, sizeof buffer);
    if (n > 0 && std::string(buffer, static_cast<size_t>(n)) == target)
        ::unlink(link.c_str());
}

} // namespace tcm
