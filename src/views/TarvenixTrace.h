#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/CanGeneral.h"
#include "core/FrameText.h"

// One trace entry: a received or sent frame, never changed after creation.
class TTarvenixTraceItem {
public:
    TTarvenixTraceItem() = default;
    TTarvenixTraceItem(const TCanFrame& frame, bool outgoing);

    // The entry's text line, e.g. "IN  ts: 5000  id: 123  l: 2  data: 01 AB ".
    std::string FormatLine() const;
    // Appends the same line to `out`, for writers that reuse one buffer.
    void AppendLine(std::string& out) const;

    uint32_t Id = 0;
    uint32_t Time = 0;
    int32_t Length = 0; // as the frame carried it, not clamped
    uint8_t Data[8] = {};
    bool Request = false;
    bool Standard = false;
    bool Outgoing = false;
};

// The running record of a channel's traffic. Entries are stored in fixed-size
// blocks, so adding never moves an entry: a pointer from Item() stays valid
// until Clear(), and the window may format it without holding the lock.
class TTarvenixTraceList {
public:
    TTarvenixTraceList() = default;
    TTarvenixTraceList(const TTarvenixTraceList&) = delete;
    TTarvenixTraceList& operator=(const TTarvenixTraceList&) = delete;

    void AddFrame(const TCanFrame& frame, bool outgoing);
    int32_t Count() const;
    const TTarvenixTraceItem* Item(int32_t index) const;
    void Clear();

    // Bytes held by the entries and the block table, for measuring.
    size_t MemoryUsed() const;

    static constexpr int32_t kBlockSize = 16384;

private:
    mutable std::mutex Lock;
    std::vector<std::unique_ptr<TTarvenixTraceItem[]>> Blocks;
    int32_t Total = 0;
};
