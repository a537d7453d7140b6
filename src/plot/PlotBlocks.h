#pragma once
#include <cstdint>
#include <cstddef>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/BackingStore.h"

// Bytes of one block of samples or summary cells in the plot's cache file.
constexpr size_t kPlotBlockBytes = size_t{1} << 20;
// What messages call the plot's cache file.
constexpr const char* kPlotFileName = "plot sample file";

// An append-only array of plain values kept in fixed-size blocks of a
// backing store (a cache file that is gone after exit), like the trace's
// entries: a full block is let go from resident memory and read back from the
// file when it is drawn again. When the file cannot grow, blocks come from
// ordinary memory and Problem() says why; when memory is gone too, Push fails.
// Used by one thread.
template <typename T> class TPlotBlocks {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    static constexpr int64_t kPerBlock = static_cast<int64_t>(kPlotBlockBytes / sizeof(T));

    // `keepCached`: a full block leaves this process's memory but stays in the
    // system's file cache (for small arrays that are read at every drawing);
    // otherwise it leaves the cache too.
    explicit TPlotBlocks(std::shared_ptr<tcm::TBackingStore> store, bool keepCached = false)
        : Store(std::move(store)), KeepCached(keepCached)
    {
    }
    ~TPlotBlocks() { Clear(); }
    TPlotBlocks(const TPlotBlocks&) = delete;
    TPlotBlocks& operator=(const TPlotBlocks&) = delete;

    int64_t Size() const { return Count; }
    const T& operator[](int64_t i) const
    {
        const auto block = static_cast<size_t>(i / kPerBlock);
        if (block != LastRead)
            NoteRead(block);
        return Blocks[block].Items[i % kPerBlock];
    }

    // Full blocks read since the last ReleaseRead: reading maps their pages
    // back into resident memory, where they would stay.
    size_t ReadCount() const { return ReadBlocks.size(); }
    // Lets go of those pages. They stay in the system's file cache, so the
    // next read of them is quick.
    void ReleaseRead() const
    {
        for (const size_t block : ReadBlocks) {
            Store->Unload({Blocks[block].Items, Blocks[block].Offset});
            Blocks[block].Read = false;
        }
        ReadBlocks.clear();
        LastRead = SIZE_MAX;
    }

    bool Push(const T& value)
    {
        if (Count % kPerBlock == 0 && static_cast<size_t>(Count / kPerBlock) == Blocks.size() && !Grow())
            return false;
        TBlock& block = Blocks[static_cast<size_t>(Count / kPerBlock)];
        block.Items[Count % kPerBlock] = value;
        if (++Count % kPerBlock == 0 && block.Offset >= 0) {
            // Full: its pages may leave memory; the file keeps them.
            if (KeepCached)
                Store->Unload({block.Items, block.Offset});
            else
                Store->Release({block.Items, block.Offset});
            Store->StartWriteOut({block.Items, block.Offset});
            LastRead = SIZE_MAX; // its next read is noted
        }
        return true;
    }

    void Clear()
    {
        ReadBlocks.clear();
        LastRead = SIZE_MAX;
        for (const TBlock& block : Blocks) {
            if (block.Offset >= 0)
                Store->Free({block.Items, block.Offset});
            else
                ::operator delete(block.Items);
        }
        Blocks.clear();
        Count = 0;
    }

    // Why blocks are kept in memory instead of the file; empty while they are not.
    const std::string& Problem() const { return StorageProblem; }

private:
    struct TBlock {
        T* Items = nullptr;
        int64_t Offset = -1;       // place in the store's file; -1 for ordinary memory
        mutable bool Read = false; // full and read since the last ReleaseRead
    };

    void NoteRead(size_t block) const
    {
        LastRead = block;
        const TBlock& b = Blocks[block];
        const bool full = static_cast<int64_t>(block + 1) * kPerBlock <= Count;
        if (full && b.Offset >= 0 && !b.Read) {
            b.Read = true;
            ReadBlocks.push_back(block);
        }
    }

    bool Grow()
    {
        TBlock block;
        const tcm::TBackingStore::TBlock mapped = Store->Allocate();
        if (mapped.Address) {
            block = {static_cast<T*>(mapped.Address), mapped.Offset};
        } else {
            if (StorageProblem.empty())
                StorageProblem = Store->ErrorText();
            block.Items = static_cast<T*>(::operator new(kPlotBlockBytes, std::nothrow));
            if (!block.Items)
                return false;
        }
        try {
            Blocks.push_back(block);
        } catch (const std::bad_alloc&) {
            if (block.Offset >= 0)
                Store->Free({block.Items, block.Offset});
            else
                ::operator delete(block.Items);
            return false;
        }
        return true;
    }

    std::shared_ptr<tcm::TBackingStore> Store;
    const bool KeepCached;
    std::vector<TBlock> Blocks;
    int64_t Count = 0;
    std::string StorageProblem;
    mutable size_t LastRead = SIZE_MAX;     // the block of the last read, already noted
    mutable std::vector<size_t> ReadBlocks; // full blocks read since the last ReleaseRead
};
