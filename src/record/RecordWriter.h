#pragma once
#include <memory>
#include <string>

#include "record/RecordFormat.h"

struct TRecordWriterOptions {
    std::string Interface = "can0"; // candump interface name
    bool BlfCompressed = true;      // zlib-compressed BLF log containers (else stored)
};

// Writes frames into a descriptor as they come, in one format, with constant memory:
// frames are collected in a buffer of a few tens of kilobytes and written when it fills.
class TRecordWriter {
public:
    virtual ~TRecordWriter() = default;
    virtual void Write(const TRecordFrame& frame) = 0; // buffered
    virtual void Flush() = 0;                          // all written so far reaches the descriptor
    virtual void Finish() = 0;                         // trailer/header counts (ASC end line, BLF), then Flush
};

// Writes into fd (not owned: a file, pipe or fifo). Write errors raise std::system_error whose what()
// names `name` and the reason (e.g. "Unable to write to /tmp/x.blf: No space left on device").
std::unique_ptr<TRecordWriter> CreateRecordWriter(TRecordFormat format, int fd, const std::string& name,
                                                  const TRecordWriterOptions& options = {});
