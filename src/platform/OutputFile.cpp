#include "platform/OutputFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tcm {

TOutputFile::~TOutputFile()
{
    if (Descriptor >= 0)
        ::close(Descriptor);
}

bool TOutputFile::Open(const std::string& path, std::string& error)
{
    if (Descriptor >= 0)
        ::close(Descriptor);
    Name = path;
    Descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (Descriptor < 0) {
        error = "Unable to create " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    Regular = ::fstat(Descriptor, &st) == 0 && S_ISREG(st.st_mode);
    return true;
}

bool TOutputFile::Close(std::string& error)
{
    if (Descriptor < 0)
        return true;
    const int result = ::close(Descriptor);
    Descriptor = -1;
    if (result != 0 && errno != EINTR) {
        error = "Unable to write to " + Name + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void TOutputFile::Discard()
{
    if (Descriptor >= 0) {
        ::close(Descriptor);
        Descriptor = -1;
    }
    if (Regular && !Name.empty())
        ::unlink(Name.c_str());
    Regular = false;
}

} // namespace tcm
