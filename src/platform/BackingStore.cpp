#include "platform/BackingStore.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tcm {

namespace {

bool MakeFolder(const std::string& path)
{
    return mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

} // namespace

TBackingStore::TBackingStore(size_t blockBytes, std::string fileName)
    : BlockBytes(blockBytes), FileName(std::move(fileName))
{
}

TBackingStore::~TBackingStore()
{
    if (Fd >= 0) {
        ftruncate(Fd, 0);
        close(Fd);
    }
}

std::string TBackingStore::CacheFolder()
{
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    if (xdg && xdg[0] == '/')
        return std::string(xdg) + "/TarvenixCanMonitor";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/')
        return std::string(home) + "/.cache/TarvenixCanMonitor";
    return std::string();
}

void TBackingStore::Fail(int error, const std::string& what)
{
    LastErrorText = what + " (error " + std::to_string(error) + ": " + std::strerror(error) + ")";
}

bool TBackingStore::OpenFile()
{
    if (Fd >= 0)
        return true;
    const std::string folder = CacheFolder();
    if (folder.empty()) {
        Fail(ENOENT, "No cache folder: neither XDG_CACHE_HOME nor HOME is set");
        return false;
    }
    const std::string parent = folder.substr(0, folder.rfind('/'));
    if (!MakeFolder(parent) || !MakeFolder(folder)) {
        Fail(errno, "Unable to make the cache folder " + folder);
        return false;
    }
    // An unnamed file where the system offers one, otherwise a named one that
    // is unlinked at once.
    Fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (Fd < 0) {
        std::string name = folder + "/" + FileName + "-XXXXXX";
        std::replace(name.begin() + static_cast<std::ptrdiff_t>(folder.size()), name.end(), ' ', '-');
        Fd = mkostemp(name.data(), O_CLOEXEC);
        if (Fd >= 0)
            unlink(name.c_str());
    }
    if (Fd < 0) {
        Fail(errno, "Unable to make a file in the cache folder " + folder);
        return false;
    }
    return true;
}

TBackingStore::TBlock TBackingStore::Allocate()
{
    TMutexLock guard(Lock);
    TBlock block;
    if (!OpenFile())
        return block;
    const bool reuse = !FreePlaces.empty();
    const int64_t offset = reuse ? FreePlaces.back() : Blocks * static_cast<int64_t>(BlockBytes);
    // Reserving the space now (again for a freed place, whose space was given
    // back) turns a full disk into this error instead of a bus error on the
    // first write to the page.
    const int error = posix_fallocate(Fd, static_cast<off_t>(offset), static_cast<off_t>(BlockBytes));
    if (error != 0) {
        Fail(error, "Unable to grow the " + FileName + " in the cache folder " + CacheFolder());
        return block;
    }
    if (reuse)
        FreePlaces.pop_back();
    else
        ++Blocks;
    void* address = mmap(nullptr, BlockBytes, PROT_READ | PROT_WRITE, MAP_SHARED, Fd, static_cast<off_t>(offset));
    if (address == MAP_FAILED) {
        Fail(errno, "Unable to map the " + FileName + " in the cache folder " + CacheFolder());
        FreePlaces.push_back(offset);
        return block;
    }
    block.Address = address;
    block.Offset = offset;
    return block;
}

void TBackingStore::Release(const TBlock& block)
{
#ifdef MADV_PAGEOUT
    // Reclaims the pages at once where the kernel knows how (Linux 5.4 on).
    madvise(block.Address, BlockBytes, MADV_PAGEOUT);
#endif
    // Takes the pages out of this process's resident set; the file keeps them.
    Unload(block);
}

void TBackingStore::Unload(const TBlock& block)
{
    madvise(block.Address, BlockBytes, MADV_DONTNEED);
}

bool TBackingStore::Read(int64_t offset, void* to, size_t bytes) const
{
    int fd = -1;
    {
        TMutexLock guard(Lock);
        fd = Fd;
    }
    auto* at = static_cast<char*>(to);
    while (bytes > 0) {
        const ssize_t n = pread(fd, at, bytes, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        at += n;
        offset += n;
        bytes -= static_cast<size_t>(n);
    }
    return true;
}

void TBackingStore::StartWriteOut(const TBlock& block)
{
    int fd = -1;
    {
        TMutexLock guard(Lock);
        fd = Fd;
    }
    sync_file_range(fd, static_cast<off_t>(block.Offset), static_cast<off_t>(BlockBytes), SYNC_FILE_RANGE_WRITE);
}

void TBackingStore::Free(const TBlock& block)
{
    munmap(block.Address, BlockBytes);
    TMutexLock guard(Lock);
    // The disk space goes back; the place in the file is reserved again on reuse.
    fallocate(Fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, static_cast<off_t>(block.Offset),
              static_cast<off_t>(BlockBytes));
    FreePlaces.push_back(block.Offset);
}

std::string TBackingStore::ErrorText() const
{
    TMutexLock guard(Lock);
    return LastErrorText;
}

} // namespace tcm
