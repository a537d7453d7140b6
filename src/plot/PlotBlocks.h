#pragma once
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/BackingStore.h"

// Bytes of one block of samples or summary cells in the plot's cache file.
constexpr size_t kPlotBlockBytes = size_t{1} << 20;

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

    explicit TPlotBlocks(std::shared_ptr<tcm::TBackingStore> store) : Store(std::move(store)) {}
    ~TPlotBlocks() { Clear(); }
    TPlotBlocks(const TPlotBlocks&) = delete;
    TPlotBlocks& operator=(const TPlotBlocks&) = delete;

    int64_t Size() const { return Count; }
    const T& operator[](int64_t i) const { return Blocks[static_cast<size_t>(i / kPerBlock)].Items[i % kPerBlock]; }
    const T& Back() const { return (*this)[Count - 1]; }

    bool Push(const T& value)
    {
        if (Count % kPerBlock == 0 && static_cast<size_t>(Count / kPerBlock) == Blocks.size() && !Grow())
            return false;
        TBlock& block = Blocks[static_cast<size_t>(Count / kPerBlock)];
        block.Items[Count % kPerBlock] = value;
        if (++Count % kPerBlock == 0 && block.Offset >= 0) {
            // Full: its pages may leave memory; the file keeps them.
            Store->Release({block.Items, block.Offset});
            Store->StartWriteOut({block.Items, block.Offset});
        }
        return true;
    }

    void Clear()
    {
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
    std::vector<TBlock> Blocks;
    int64_t Count = 0;
    std::string StorageProblem;
};
