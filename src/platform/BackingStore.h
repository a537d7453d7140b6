#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Mutex.h"

namespace tcm {

// Fixed-size blocks of memory kept in a file in the user's cache folder
// ($XDG_CACHE_HOME/TarvenixCanMonitor or ~/.cache/TarvenixCanMonitor), so that
// the system can write full blocks out and drop them from resident memory
// while they stay readable at the same address. The file is unlinked as soon
// as it is made: nothing is left behind at exit or after a crash. Every block
// is reserved on disk before it is handed out, so a full disk is an error here
// and never a fault when the block is written. Thread-safe.
class TBackingStore {
public:
    struct TBlock {
        void* Address = nullptr;
        int64_t Offset = -1; // place in the file
    };

    // `blockBytes` must be a multiple of the system's page size; `fileName`
    // names the file in messages ("trace file") and, with its blanks as
    // dashes, begins its name where the file needs one.
    TBackingStore(size_t blockBytes, std::string fileName);
    ~TBackingStore(); // every block must have been freed
    TBackingStore(const TBackingStore&) = delete;
    TBackingStore& operator=(const TBackingStore&) = delete;

    // A new block of the file mapped into memory, its contents unspecified;
    // Address is null when the file cannot be made or grown (see Error).
    TBlock Allocate() TCM_EXCLUDES(Lock);
    // Lets the system drop a full block's pages from the resident set; the
    // contents stay and come back from the file when read.
    void Release(const TBlock& block);
    // Takes a block's pages out of this process's resident set, leaving them
    // in the system's file cache (for pages read again after Release).
    void Unload(const TBlock& block);
    // Copies `bytes` from the file at `offset` (within a block) into `to`,
    // without mapping any page into this process: for reading released blocks
    // back without their pages staying resident. False on a read error.
    bool Read(int64_t offset, void* to, size_t bytes) const;
    // Starts writing a released block to the disk, so its memory can be reused.
    void StartWriteOut(const TBlock& block);
    // Unmaps a block and gives its disk space back; the place is reused.
    void Free(const TBlock& block);

    // Why the last Allocate failed: a sentence naming the folder.
    std::string ErrorText() const;

    // The folder the file is made in, from the environment.
    static std::string CacheFolder();

private:
    bool OpenFile() TCM_REQUIRES(Lock);
    void Fail(int error, const std::string& what) TCM_REQUIRES(Lock);

    const size_t BlockBytes;
    const std::string FileName;
    mutable TMutex Lock;
    int Fd TCM_GUARDED_BY(Lock) = -1;
    int64_t Blocks TCM_GUARDED_BY(Lock) = 0;              // blocks the file has room for
    std::vector<int64_t> FreePlaces TCM_GUARDED_BY(Lock); // offsets of freed blocks
    std::string LastErrorText TCM_GUARDED_BY(Lock);
};

} // namespace tcm
