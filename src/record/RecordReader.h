#pragma once
#include <functional>
#include <memory>
#include <string>

#include "record/RecordFormat.h"

// Reads the frames of a recording one at a time, with constant memory whatever the file's size.
// Read frames carry Frame.Time as the wall-clock milliseconds modulo 2^32, so that differences
// between frames are right.
class TRecordReader {
public:
    virtual ~TRecordReader() = default;
    // The next frame in file order; false at the end. A malformed line or object is reported through
    // OnError ("name: line 12: <what>" or "name: offset 4096: <what>") and skipped.
    virtual bool Next(TRecordFrame& out) = 0;
    std::function<void(const std::string& message)> OnError;
};

// Any supported format, recognised by content (pcap magic, "LOGG", ASC header, candump line), else by
// extension. nullptr with `error` set when the file cannot be opened or recognised.
std::unique_ptr<TRecordReader> OpenRecordReader(const std::string& path, std::string& error);
// A known format from a descriptor (a pipe); fd not owned. nullptr for Trace, which is not read back.
std::unique_ptr<TRecordReader> CreateRecordReader(TRecordFormat format, int fd, const std::string& name);
