// The trace filter on a long capture: 10 million entries (200 identifiers,
// a tenth of them sent). Reports the time to apply each filter to the whole
// trace (what typing into the filter line costs), the lines it leaves, and
// the time to find the entries of 1,000 lines spread over the result (what
// painting and scrolling cost), beside the time to walk the same entries
// without a filter as the reference of this run. Then the find bar's search:
// the time to look through every line shown (with and without a filter) and
// find the last match, for a text and for data bytes.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "views/TarvenixTrace.h"
#include "views/TraceFind.h"
#include "views/TraceIndex.h"

namespace {

double MsSince(std::chrono::steady_clock::time_point t0)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

} // namespace

int main(int argc, char** argv)
{
    const int32_t entries = argc > 1 ? std::atoi(argv[1]) : 10000000;
    TTarvenixTraceList trace;
    TCanFrame frame;
    frame.Standard = true;
    frame.Length = 8;
    for (int32_t i = 0; i < entries; ++i) {
        frame.Id = 0x100 + static_cast<uint32_t>(i % 200);
        frame.Time = static_cast<uint32_t>(i / 10);
        for (int b = 0; b < 4; ++b)
            frame.Data[b] = static_cast<uint8_t>(i >> (8 * b));
        trace.AddFrame(frame, i % 10 == 0);
    }
    std::printf("trace: %d entries, 200 identifiers, every tenth sent\n", entries);

    // Reference: every entry read once, no filter.
    auto t0 = std::chrono::steady_clock::now();
    uint64_t sum = 0;
    for (int32_t i = 0; i < entries; i += TTarvenixTraceList::kBlockSize) {
        const TTarvenixTraceItem* items = trace.Item(i);
        for (int32_t k = 0; k < TTarvenixTraceList::kBlockSize && i + k < entries; ++k)
            sum += items[k].Id;
    }
    std::printf("%-36s %8.1f ms  (reference, checksum %llu)\n", "walk every entry", MsSince(t0),
                static_cast<unsigned long long>(sum % 1000));

    for (const char* text : {"123:7FF", "100:7F0, 1C0:7C0", "OUT", "100~7FF IN", "123:7FF 124:7FF 125:7FF 126:7FF"}) {
        TTraceFilter filter;
        std::string bad;
        if (!TTraceFilter::Parse(text, filter, bad))
            return 1;
        TTraceIndex index;
        t0 = std::chrono::steady_clock::now();
        index.Extend(trace, filter, entries);
        const double apply = MsSince(t0);
        std::mt19937 random(7);
        t0 = std::chrono::steady_clock::now();
        int64_t found = 0;
        for (int n = 0; n < 1000 && index.Count() > 0; ++n)
            found += index.EntryOf(static_cast<int64_t>(random() % static_cast<uint64_t>(index.Count()))) >= 0;
        const double lookup = MsSince(t0);
        std::printf("filter %-29s %8.1f ms  %9lld lines; 1,000 line look-ups %.3f ms (%lld found)\n",
                    (std::string("\"") + text + "\"").c_str(), apply, static_cast<long long>(index.Count()), lookup,
                    static_cast<long long>(found));
    }

    struct TFind {
        const char* Filter;
        const char* Query;
        bool Bytes;
    };
    for (const TFind& find :
         {TFind{"", "id: 1C7  l: 8  data: 7F", false}, TFind{"", "7F 96 98", true},
          TFind{"100:700 IN", "id: 1C7  l: 8  data: 7F", false}, TFind{"100:700 IN", "7F 96 98", true}}) {
        TTraceFilter filter;
        TTraceQuery query;
        std::string bad;
        if (!TTraceFilter::Parse(find.Filter, filter, bad) || !TTraceQuery::Parse(find.Query, find.Bytes, query, bad))
            return 1;
        t0 = std::chrono::steady_clock::now();
        TTraceIndex found;
        TTraceSearch{filter.Empty() ? nullptr : &filter, &query}.Run(trace, entries, found);
        const int64_t last = found.Count() > 0 ? found.EntryOf(found.Count() - 1) : -1;
        const double ms = MsSince(t0);
        std::printf("find %-8s %-25s filter %-12s %8.1f ms  %9lld matches, the last at entry %lld\n",
                    find.Bytes ? "bytes" : "text", (std::string("\"") + find.Query + "\"").c_str(),
                    (std::string("\"") + find.Filter + "\"").c_str(), ms, static_cast<long long>(found.Count()),
                    static_cast<long long>(last));
    }
    return 0;
}
