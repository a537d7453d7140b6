#include "views/TraceIndex.h"

#include <algorithm>
#include <bit>
#include <cctype>

#include "views/TarvenixTrace.h"

bool TTraceFilter::Parse(std::string_view text, TTraceFilter& out, std::string& bad)
{
    out = TTraceFilter();
    bool in = false;
    bool outgoing = false;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t end = std::min(text.find_first_of(" ,\t", pos), text.size());
        const std::string_view term = text.substr(pos, end - pos);
        pos = end + 1;
        if (term.empty())
            continue;
        std::string upper(term);
        std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
        if (upper == "IN") {
            in = true;
        } else if (upper == "OUT") {
            outgoing = true;
        } else if (const auto filter = TFrameFilter::Parse(term)) {
            out.Ids.Add(*filter);
        } else {
            bad = std::string(term);
            return false;
        }
    }
    if (in != outgoing) {
        out.In = in;
        out.Out = outgoing;
    }
    return true;
}

bool TTraceFilter::Passes(const TTarvenixTraceItem& item) const
{
    return (item.Outgoing ? Out : In) && Ids.Passes(item.Id, item.Standard, item.Request);
}

void TTraceIndex::Reset()
{
    Bits.clear();
    ChunkStart.clear();
    Entries = 0;
    Passing = 0;
}

int64_t TTraceIndex::EntryOf(int64_t row) const
{
    if (row < 0 || row >= Passing)
        return -1;
    const auto chunk = std::upper_bound(ChunkStart.begin(), ChunkStart.end(), row) - ChunkStart.begin() - 1;
    int64_t left = row - ChunkStart[static_cast<size_t>(chunk)];
    for (auto w = static_cast<size_t>(chunk * kChunkWords); w < Bits.size(); ++w) {
        uint64_t word = Bits[w];
        const int count = std::popcount(word);
        if (left >= count) {
            left -= count;
            continue;
        }
        for (; left > 0; --left)
            word &= word - 1; // drops the lowest bit
        return static_cast<int64_t>(w) * 64 + std::countr_zero(word);
    }
    return -1;
}

int64_t TTraceIndex::RowOf(int64_t entry) const
{
    if (entry <= 0)
        return 0;
    if (entry >= Entries)
        return Passing;
    const int64_t chunk = entry / kChunkEntries;
    int64_t row = ChunkStart[static_cast<size_t>(chunk)];
    const int64_t word = entry / 64;
    for (int64_t w = chunk * kChunkWords; w < word; ++w)
        row += std::popcount(Bits[static_cast<size_t>(w)]);
    return row + std::popcount(Bits[static_cast<size_t>(word)] & ((uint64_t{1} << (entry % 64)) - 1));
}
