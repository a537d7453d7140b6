#include "platform/OutputFile.h"

#include "platform/FileReplace.h"

#include <cerrno>
#include <cstdlib>
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
    Temp.clear();
    Descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (Descriptor < 0) {
        error = "Unable to create " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    Regular = ::fstat(Descriptor, &st) == 0 && S_ISREG(st.st_mode);
    return true;
}

bool TOutputFile::OpenReplacing(const std::string& path, std::string& error)
{
    if (Descriptor >= 0)
        ::close(Descriptor);
    Descriptor = -1;
    Name = path;
    Temp.clear();
    Target = path;
    // A link is followed to its file, which is replaced; the link stays.
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            Target = real;
            std::free(real);
        }
    }
    mode_t mode = 0666;
    if (::stat(Target.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode))
            return Open(path, error); // a device or fifo takes the bytes as they come
        if (::access(Target.c_str(), W_OK) != 0) {
            error = "Unable to create " + path + ": " + std::strerror(errno);
            return false;
        }
        mode = st.st_mode & 07777;
    }
    try {
        Descriptor = CreateTempBeside(Target, mode, Temp);
    } catch (const EPlantedFile& e) {
        error = "Unable to create " + path + ": " + PlantedFileText(e.Path());
        Temp.clear();
        return false;
    } catch (const std::system_error& e) {
        error = "Unable to create " + path + ": " + std::strerror(e.code().value());
        Temp.clear();
        return false;
    }
    // The umask applied at creation; an existing file's permissions are kept exactly.
    if (mode != 0666)
        ::fchmod(Descriptor, mode);
    Regular = true;
    return true;
}

bool TOutputFile::Close(std::string& error)
{
    if (Descriptor < 0)
        return true;
    const bool replacing = !Temp.empty();
    // A replacing file reaches the disk before it takes the target's place.
    if (replacing && ::fsync(Descriptor) != 0) {
        error = "Unable to write to " + Name + ": " + std::strerror(errno);
        Discard();
        return false;
    }
    const int result = ::close(Descriptor);
    Descriptor = -1;
    if (result != 0 && errno != EINTR) {
        error = "Unable to write to " + Name + ": " + std::strerror(errno);
        if (replacing)
            Discard();
        return false;
    }
    if (replacing) {
        if (::rename(Temp.c_str(), Target.c_str()) != 0) {
            error = "Unable to write to " + Name + ": " + std::strerror(errno);
            Discard();
            return false;
        }
        Temp.clear();
        Regular = false;
    }
    return true;
}

void TOutputFile::Discard()
{
    if (Descriptor >= 0) {
        ::close(Descriptor);
        Descriptor = -1;
    }
    if (!Temp.empty())
        ::unlink(Temp.c_str()); // the target was never touched
    else if (Regular && !Name.empty())
        ::unlink(Name.c_str());
    Temp.clear();
    Regular = false;
}

} // namespace tcm
