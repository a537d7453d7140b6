#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "record/RecordFormat.h"

// Frames a reader leaves out because no classic CAN bus carries them.
struct TLeftOutCounts {
    uint64_t Fd = 0;
    uint64_t Error = 0;
};

// Reads the frames of a recording one at a time, with constant memory whatever the file's size.
// Read frames carry Frame.Time as the wall-clock milliseconds modulo 2^32, so that differences
// between frames are right.
class TRecordReader {
public:
    virtual ~TRecordReader() = default;
    // The next frame of the chosen channel in file order; false at the end. A damaged line or
    // object is reported through OnError ("name: line 12: <what>" or "name: offset 4096: <what>")
    // and skipped. Frames that cannot go on a classic CAN bus (CAN FD, error frames) and frames
    // of other channels are counted and left out (LeftOut()); events are passed over.
    bool Next(TRecordFrame& out);
    std::function<void(const std::string& message)> OnError;
    // The channel (bus) whose frames are read; a recording without channels is all channel 1.
    int Channel = 1;
    // What was left out so far, in one sentence ("2 CAN FD frames and 3 error frames were left
    // out"), with the channels found when there were several; empty when nothing was.
    std::string LeftOut() const;
    // Frames seen per channel, those left out included.
    const std::map<int, uint64_t>& ChannelFrames() const { return Channels; }

protected:
    // The next frame of any channel (its Channel set); false at the end.
    virtual bool NextFrame(TRecordFrame& out) = 0;
    TLeftOutCounts Dropped;

private:
    std::map<int, uint64_t> Channels;
};

// Any supported format, recognised by content (pcap magic, "LOGG", ASC header, candump line), else by
// extension. nullptr with `error` set when the file cannot be opened or recognised.
std::unique_ptr<TRecordReader> OpenRecordReader(const std::string& path, std::string& error);
// A known format from a descriptor (a pipe); fd not owned. nullptr for Trace, which is not read back.
std::unique_ptr<TRecordReader> CreateRecordReader(TRecordFormat format, int fd, const std::string& name);
