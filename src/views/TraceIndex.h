#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/FrameFilter.h"

class TTarvenixTraceItem;
class TTarvenixTraceList;

// What the trace view shows: identifier terms by candump's rules (ID:MASK,
// ID~MASK; an entry passes one of them) and the directions IN and OUT.
struct TTraceFilter {
    TFrameFilterSet Ids;
    bool In = true;
    bool Out = true;

    // Reads terms separated by blanks or commas, e.g. "100:700, 18DA0000~1FFF0000 IN".
    // IN and OUT (any case) keep that direction; naming both, or neither, keeps both.
    // False with `bad` set to the first term that is neither.
    static bool Parse(std::string_view text, TTraceFilter& out, std::string& bad);
    bool Passes(const TTarvenixTraceItem& item) const;
    bool Empty() const { return Ids.Empty() && In && Out; }
};

// Which entries of a trace pass a filter, without copying any entry: one bit
// per entry looked at, and the number of passing entries before each chunk of
// 4,096 entries, so that the n-th passing entry (a line of the view) and the
// line of an entry are found without walking the trace.
class TTraceIndex {
public:
    void Reset();
    // Looks at the entries from Scanned() up to `total` - 1 of `trace`.
    void Extend(const TTarvenixTraceList& trace, const TTraceFilter& filter, int64_t total);
    int64_t Scanned() const { return Entries; }
    int64_t Count() const { return Passing; }
    // The entry of passing entry `row`; -1 when there is none.
    int64_t EntryOf(int64_t row) const;
    // How many passing entries come before `entry` (its line when it passes).
    int64_t RowOf(int64_t entry) const;

private:
    static constexpr int64_t kChunkWords = 64;
    static constexpr int64_t kChunkEntries = kChunkWords * 64;
    std::vector<uint64_t> Bits;
    std::vector<int64_t> ChunkStart;
    int64_t Entries = 0;
    int64_t Passing = 0;
};
