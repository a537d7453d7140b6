#pragma once
// Frames counted by the sequence numbers a receiver sees, over a window of
// numbers the simulated adapter handed out between two readings of its totals
// (every frame that fell due takes the next number, also one it dropped), and
// those totals as its program prints them ("total: generated ... sent ..." on
// SIGUSR1 and at the end).
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "TrafficGenerator.h"

struct TSeqCount {
    uint64_t Expected = 0;   // frames numbered within the window
    uint64_t Received = 0;   // of those, seen (each once)
    uint64_t Lost = 0;       // of those, never seen
    uint64_t OutOfOrder = 0; // seen after a higher number
    uint64_t Duplicated = 0; // seen once more
    uint64_t Foreign = 0;    // entries without a valid sequence number (not generated, or damaged)
    uint64_t Outside = 0;    // numbered before or after the window: not counted
};

class TSeqTally {
public:
    // The window: sequence numbers first .. end-1.
    TSeqTally(uint64_t first, uint64_t end) : First(first), Seen(end > first ? end - first : 0, false)
    {
        Count.Expected = Seen.size();
    }

    void Add(const TCanFrame& frame)
    {
        uint32_t seq = 0;
        if (!TTrafficGenerator::SequenceOf(frame, seq)) {
            ++Count.Foreign;
            return;
        }
        if (seq < First || seq - First >= Seen.size()) {
            ++Count.Outside;
            return;
        }
        if (Seen[seq - First]) {
            ++Count.Duplicated;
            return;
        }
        Seen[seq - First] = true;
        ++Count.Received;
        if (HaveHighest && seq < Highest)
            ++Count.OutOfOrder;
        if (!HaveHighest || seq > Highest)
            Highest = seq;
        HaveHighest = true;
    }

    TSeqCount Result() const
    {
        TSeqCount c = Count;
        c.Lost = c.Expected - c.Received;
        return c;
    }

private:
    uint64_t First;
    std::vector<bool> Seen;
    TSeqCount Count;
    uint32_t Highest = 0;
    bool HaveHighest = false;
};

struct TSimTotals {
    bool Valid = false;
    unsigned long long Generated = 0, Sent = 0, Overrun = 0, Received = 0, Settings = 0, Abandoned = 0, Unwritten = 0,
                       WriteFailures = 0;

    unsigned long long DroppedBeforeLink() const { return Overrun + Abandoned + Unwritten; }

    // What happened between two readings.
    TSimTotals Since(const TSimTotals& before) const
    {
        TSimTotals d;
        d.Valid = Valid && before.Valid;
        d.Generated = Generated - before.Generated;
        d.Sent = Sent - before.Sent;
        d.Overrun = Overrun - before.Overrun;
        d.Received = Received - before.Received;
        d.Settings = Settings - before.Settings;
        d.Abandoned = Abandoned - before.Abandoned;
        d.Unwritten = Unwritten - before.Unwritten;
        d.WriteFailures = WriteFailures - before.WriteFailures;
        return d;
    }

    // Every totals line in the simulator's standard error, in order.
    static std::vector<TSimTotals> AllIn(const std::string& text)
    {
        std::vector<TSimTotals> all;
        for (size_t at = text.find("total: generated "); at != std::string::npos;
             at = text.find("total: generated ", at + 1)) {
            TSimTotals t;
            t.Valid = std::sscanf(text.c_str() + at,
                                  "total: generated %llu sent %llu overrun %llu received %llu settings %llu "
                                  "abandoned %llu unwritten %llu write failures %llu",
                                  &t.Generated, &t.Sent, &t.Overrun, &t.Received, &t.Settings, &t.Abandoned,
                                  &t.Unwritten, &t.WriteFailures) == 8;
            all.push_back(t);
        }
        return all;
    }
};
