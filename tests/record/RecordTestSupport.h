#pragma once
// A mixed capture, and the frames as the real tools (can-utils, tshark, python-can) and our
// readers see them, in one comparable form.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "record/RecordReader.h"
#include "record/RecordWriter.h"

// What every reader reports of a frame.
struct TSeenFrame {
    uint32_t Id = 0;
    bool Extended = false;
    bool Remote = false;
    int Length = 0;
    std::string Data;   // upper-case hex of the data bytes (none for a remote frame)
    int Direction = -1; // 0 received, 1 sent, -1 not carried
    int64_t Us = 0;     // microseconds: since the epoch, or since the first frame (see CompareFrames)
};

// Standard and extended, data and remote (also remote with a length), lengths 0 to 8, in and out.
std::vector<TRecordFrame> MixedCapture();
TSeenFrame Seen(const TRecordFrame& frame, bool withDirection);

// Writes `frames` in `format` to a new file at `path`.
void WriteCapture(TRecordFormat format, const std::string& path, const std::vector<TRecordFrame>& frames,
                  const TRecordWriterOptions& options = {});
// Our reader over a file: its frames, its error messages and what it left out (LeftOut()).
std::vector<TSeenFrame> ReadWithOurs(const std::string& path, bool withDirection,
                                     std::vector<std::string>* errors = nullptr, std::string* leftOut = nullptr,
                                     int channel = 1);

// A program's standard output; fails the test when it cannot run or exits non-zero.
std::string RunTool(std::vector<std::string> args);
// Frames as `tshark -T fields` prints them with ParseTsharkFields' field list.
extern const std::vector<std::string> kTsharkFields;
std::vector<TSeenFrame> ParseTsharkFields(const std::string& output, bool withDirection);
// Frames as python-can's can.LogReader reads them under /usr/bin/python3 (Debian's modules),
// in one interpreter for the whole test program.
std::vector<TSeenFrame> ReadWithPythonCan(const std::string& path, bool withDirection);
// The same for several files in one run of the interpreter: their frames in the order given.
struct TPythonCanFile {
    std::string Path;
    bool WithDirection = false;
};
std::vector<std::vector<TSeenFrame>> ReadWithPythonCan(const std::vector<TPythonCanFile>& files);
// Starts that interpreter ahead of the first read, so that its start (the
// import of can) overlaps a test's own steps.
void StartPythonCan();

// Same frames in the same order; times within 1 ms, absolute or (relative) since each list's first frame.
void CompareFrames(const std::vector<TSeenFrame>& expected, const std::vector<TSeenFrame>& actual, bool relative,
                   const std::string& what);
