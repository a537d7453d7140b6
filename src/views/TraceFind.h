#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "views/TraceIndex.h"

// What the trace's find bar looks for in a line.
//   text:  the line's text as the view shows it, either case
//          ("id: 123", "DE AD", "OUT ts: 50")
//   bytes: hexadecimal data bytes that follow each other in the frame's data,
//          with or without blanks ("DEAD", "de ad be ef")
class TTraceQuery {
public:
    // False with `bad` saying why when the text names no bytes in bytes mode.
    static bool Parse(std::string_view text, bool bytes, TTraceQuery& out, std::string& bad);
    bool Empty() const { return Text.empty() && Bytes.empty(); }
    // `scratch` is a buffer the caller reuses from entry to entry.
    bool Matches(const TTarvenixTraceItem& item, std::string& scratch) const;

private:
    std::string Text; // upper case
    std::vector<uint8_t> Bytes;
};

// The matches of a query among the lines a filter leaves (all lines without
// one), as an index over the trace's entries.
struct TTraceSearch {
    const TTraceFilter* Filter = nullptr; // may be null
    const TTraceQuery* Query = nullptr;

    // Extends `found` up to entry `total` - 1, a slice at a time: `done` counts
    // the entries looked at; a set `cancel` stops it (false then).
    bool Run(const TTarvenixTraceList& trace, int64_t total, TTraceIndex& found, std::atomic<int64_t>* done = nullptr,
             const std::atomic<bool>* cancel = nullptr) const;
};

// The entry before `entry` with the same identifier and kind (standard or
// extended), or -1 when there is none.
int64_t PreviousOfSameId(const TTarvenixTraceList& trace, int64_t entry);
