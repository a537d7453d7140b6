#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "stats/ChannelStats.h"

// The figures people read, taken from a snapshot at its moment.
struct TChannelFigures {
    double Seconds = 0;  // the run so far, or the whole run once it ended
    uint64_t Frames = 0; // received and sent
    uint64_t Bits = 0;
    // The last second.
    double InFramesPerSecond = 0;
    double OutFramesPerSecond = 0;
    double InBitsPerSecond = 0;
    double OutBitsPerSecond = 0;
    double LoadPercent = 0;    // the last second's bits / rate
    double RunLoadPercent = 0; // bits / (rate x seconds)
    double PeakPercent = 0;    // the busiest one-second window's bits / rate
};

struct TIdFigures {
    uint32_t Id = 0;
    uint8_t Kind = 0; // TStatsKind bits
    uint64_t Count = 0;
    double RateLastSecond = 0; // frames in the last second
    double RateRun = 0;        // frames per second over the whole run
    bool HasPeriod = false;    // two frames or more
    double PeriodMeanMs = 0;
    double PeriodMinMs = 0;
    double PeriodMaxMs = 0;
    double JitterMs = 0; // standard deviation of the period
    int32_t LastLength = 0;
    uint32_t LastBits = 0;
    double SharePercent = 0; // of all bits on the bus
};

TChannelFigures ChannelFigures(const TStatsSnapshot& snapshot);
// Every identifier and kind, sorted by identifier, then standard before
// extended, data before remote, received before sent.
std::vector<TIdFigures> IdFigures(const TStatsSnapshot& snapshot);

// Order of the sorted list: identifier, then kind.
bool IdFiguresBefore(const TIdFigures& a, const TIdFigures& b);

// "std data IN ", "ext rtr OUT": the kind in words.
std::string KindText(uint8_t kind);
// The identifier as the views write it, 3 or 8 hex digits.
std::string IdText(const TIdFigures& figures);

// One line per identifier and kind, as the headless monitor prints it.
std::string IdLine(const TIdFigures& figures);
// "bus: <frames> frames, <bits> bits in <seconds> s, load <L> % (peak <P> % in one second)"
std::string TotalsLine(const TChannelFigures& figures);
