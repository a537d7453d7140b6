#pragma once
#include <algorithm>
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
// entries: a full block is let go from resident memory, and reading it copies
// its values from the file through a small buffer (pread), so that drawing
// never maps the file's pages back in: faulting them in had cost most of a
// wide drawing's time, and letting them go again more. When the file cannot
// grow, blocks come from ordinary memory and Problem() says why; when memory
// is gone too, Push fails. Used by one thread.
template <typename T> class TPlotBlocks {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    static constexpr int64_t kPerBlock = static_cast<int64_t>(kPlotBlockBytes / sizeof(T));
    // Values copied from the file at a time: 64 KiB, few enough reads for a
    // wide drawing and small enough to stay in the processor's cache.
    static constexpr int64_t kPerChunk = static_cast<int64_t>((size_t{64} << 10) / sizeof(T));

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
    T operator[](int64_t i) const
    {
        if (i >= ChunkFirst && i < ChunkFirst + ChunkCount)
            return Chunk[static_cast<size_t>(i - ChunkFirst)];
        const auto block = static_cast<size_t>(i / kPerBlock);
        const bool inFile = Blocks[block].Offset >= 0 && static_cast<int64_t>(block + 1) * kPerBlock <= Count;
        if (inFile && LoadChunk(i))
            return Chunk[static_cast<size_t>(i - ChunkFirst)];
        // The block being filled (resident anyway), one in ordinary memory, or
        // a file that could not be read: through the mapping.
        return Blocks[block].Items[i % kPerBlock];
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
        }
        return true;
    }

    void Clear()
    {
        ChunkCount = 0;
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
        int64_t Offset = -1; // place in the store's file; -1 for ordinary memory
    };

    // Copies the chunk of a full block in the file that holds value `i`.
    bool LoadChunk(int64_t i) const
    {
        const TBlock& block = Blocks[static_cast<size_t>(i / kPerBlock)];
        const int64_t first = i % kPerBlock - i % kPerBlock % kPerChunk;
        const int64_t count = std::min(kPerChunk, kPerBlock - first);
        Chunk.resize(static_cast<size_t>(kPerChunk));
        ChunkCount = 0;
        if (!Store->Read(block.Offset + first * static_cast<int64_t>(sizeof(T)), Chunk.data(),
                         static_cast<size_t>(count) * sizeof(T)))
            return false;
        ChunkFirst = i - i % kPerBlock + first;
        ChunkCount = count;
        return true;
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
    mutable std::vector<T> Chunk; // values copied from the file, the last ones read
    mutable int64_t ChunkFirst = 0;
    mutable int64_t ChunkCount = 0;
};
