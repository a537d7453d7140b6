#pragma once
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/FrameFilter.h"
#include "views/TarvenixTrace.h"

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

// Which entries of a trace pass a test (a filter, a search), without copying
// any entry: one bit per entry looked at, and the number of passing entries
// before each chunk of 4,096 entries, so that the n-th passing entry (a line of
// the view) and the line of an entry are found without walking the trace.
class TTraceIndex {
public:
    void Reset();
    // Looks at the entries from Scanned() up to `total` - 1 of `trace`.
    void Extend(const TTarvenixTraceList& trace, const TTraceFilter& filter, int64_t total)
    {
        ExtendWith(trace, total, [&filter](const TTarvenixTraceItem& item) { return filter.Passes(item); });
    }
    // The same with any test `passes(const TTarvenixTraceItem&)`.
    template <class TPasses> void ExtendWith(const TTarvenixTraceList& trace, int64_t total, TPasses&& passes);
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

template <class TPasses> void TTraceIndex::ExtendWith(const TTarvenixTraceList& trace, int64_t total, TPasses&& passes)
{
    constexpr int64_t block = TTarvenixTraceList::kBlockSize;
    while (Entries < total) {
        // Entries of one block lie side by side: one look-up per block, not per entry.
        const int64_t first = Entries / block * block;
        const TTarvenixTraceItem* items = trace.Item(first);
        const int64_t end = std::min(total, first + block);
        for (int64_t e = Entries; e < end; ++e) {
            if (e % kChunkEntries == 0)
                ChunkStart.push_back(Passing);
            if (e % 64 == 0)
                Bits.push_back(0);
            if (items && passes(items[e - first])) {
                Bits.back() |= uint64_t{1} << (e % 64);
                ++Passing;
            }
        }
        Entries = end;
    }
}
