#include "views/TraceFind.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "core/CanText.h"

namespace {

// Upper case of ASCII text, eight characters at a time: every line of a long
// trace passes here. The eight bytes from `text` + `length` - 1 on must be readable.
void ToUpperAscii(char* text, size_t length)
{
    constexpr uint64_t kOnes = 0x0101010101010101u;
    constexpr uint64_t kHigh = 0x8080808080808080u;
    for (size_t i = 0; i < length; i += 8) {
        uint64_t word;
        std::memcpy(&word, text + i, 8);
        const uint64_t low7 = word & ~kHigh;
        const uint64_t fromA = low7 + kOnes * (0x80 - 'a');     // high bit: at least 'a'
        const uint64_t pastZ = low7 + kOnes * (0x80 - 'z' - 1); // high bit: past 'z'
        const uint64_t lower = fromA & ~pastZ & ~word & kHigh;
        word ^= lower >> 2; // 0x80 >> 2 is the case bit
        std::memcpy(text + i, &word, 8);
    }
}

} // namespace

bool TTraceQuery::Parse(std::string_view text, bool bytes, TTraceQuery& out, std::string& bad)
{
    out = TTraceQuery();
    if (!bytes) {
        out.Text.assign(text);
        std::transform(out.Text.begin(), out.Text.end(), out.Text.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        return true;
    }
    std::string digits;
    for (const char c : text) {
        if (c == ' ' || c == ',' || c == '\t')
            continue;
        if (HexDigitValue(c) < 0) {
            bad = "not a hexadecimal digit: " + std::string(1, c);
            return false;
        }
        digits += c;
    }
    if (digits.size() % 2 != 0) {
        bad = "an odd number of hexadecimal digits: bytes are two digits each";
        return false;
    }
    if (digits.size() > 16) {
        bad = "more than eight bytes: a frame carries at most eight";
        return false;
    }
    for (size_t i = 0; i < digits.size(); i += 2)
        out.Bytes.push_back(static_cast<uint8_t>(HexDigitValue(digits[i]) * 16 + HexDigitValue(digits[i + 1])));
    return true;
}

bool TTraceQuery::Matches(const TTarvenixTraceItem& item, std::string& scratch) const
{
    if (!Bytes.empty()) {
        if (item.Request)
            return false;
        const auto length = static_cast<size_t>(CanDataBytes(item.Length));
        if (length < Bytes.size())
            return false;
        for (size_t at = 0; at + Bytes.size() <= length; ++at)
            if (std::memcmp(item.Data + at, Bytes.data(), Bytes.size()) == 0)
                return true;
        return false;
    }
    if (Text.empty())
        return false;
    scratch.clear();
    item.AppendLine(scratch);
    const size_t length = scratch.size();
    scratch.append(7, ' ');
    ToUpperAscii(scratch.data(), length);
    return std::string_view(scratch.data(), length).find(Text) != std::string_view::npos;
}

bool TTraceSearch::Run(const TTarvenixTraceList& trace, int64_t total, TTraceIndex& found, std::atomic<int64_t>* done,
                       const std::atomic<bool>* cancel) const
{
    // Slices of a few blocks: progress and a cancel are seen several times a second.
    constexpr int64_t kSlice = int64_t{TTarvenixTraceList::kBlockSize} * 16;
    std::string scratch;
    const auto passes = [&](const TTarvenixTraceItem& item) {
        return (!Filter || Filter->Passes(item)) && Query->Matches(item, scratch);
    };
    while (found.Scanned() < total) {
        if (cancel && cancel->load(std::memory_order_relaxed))
            return false;
        found.ExtendWith(trace, std::min(total, found.Scanned() + kSlice), passes);
        if (done)
            done->store(found.Scanned(), std::memory_order_relaxed);
    }
    return true;
}

int64_t PreviousOfSameId(const TTarvenixTraceList& trace, int64_t entry)
{
    constexpr int64_t block = TTarvenixTraceList::kBlockSize;
    const TTarvenixTraceItem* current = trace.Item(entry);
    if (!current)
        return -1;
    const uint32_t id = current->Id;
    const bool standard = current->Standard;
    for (int64_t e = entry - 1; e >= 0;) {
        // One look-up per block, walking its entries backwards.
        const int64_t first = e / block * block;
        const TTarvenixTraceItem* items = trace.Item(first);
        if (!items)
            return -1;
        for (; e >= first; --e)
            if (items[e - first].Id == id && items[e - first].Standard == standard)
                return e;
    }
    return -1;
}
