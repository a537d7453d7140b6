#pragma once
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

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

    // `blockBytes` must be a multiple of the system's page size.
    explicit TBackingStore(size_t blockBytes);
    ~TBackingStore(); // every block must have been freed
    TBackingStore(const TBackingStore&) = delete;
    TBackingStore& operator=(const TBackingStore&) = delete;

    // A new block of the file mapped into memory, its contents unspecified;
    // Address is null when the file cannot be made or grown (see Error).
    TBlock Allocate();
    // Lets the system drop a full block's pages from the resident set; the
    // contents stay and come back from the file when read.
    void Release(const TBlock& block);
    // Starts writing a released block to the disk, so its memory can be reused.
    void StartWriteOut(const TBlock& block);
    // Unmaps a block and gives its disk space back; the place is reused.
    void Free(const TBlock& block);

    // Why the last Allocate failed: the error number and a sentence naming the folder.
    int ErrorNumber() const;
    std::string ErrorText() const;

    // The folder the file is made in, from the environment.
    static std::string CacheFolder();

private:
    bool OpenFile();                               // under Lock
    void Fail(int error, const std::string& what); // under Lock

    const size_t BlockBytes;
    mutable std::mutex Lock;
    int Fd = -1;
    int64_t Blocks = 0;              // blocks the file has room for
    std::vector<int64_t> FreePlaces; // offsets of freed blocks
    int LastError = 0;
    std::string LastErrorText;
};

} // namespace tcm
