#pragma once
// Buffered descriptor output and input shared by the format writers and readers.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "record/RecordFormat.h"
#include "record/RecordReader.h"
#include "record/RecordWriter.h"

namespace tcm::recording {

// Collects bytes and writes them to a descriptor in large pieces. The buffer is reserved
// once; callers append to Bytes() and call DrainIfFull() after each frame.
class TFdOutput {
public:
    static constexpr size_t kCapacity = 48 * 1024;

    TFdOutput(int fd, std::string name);
    std::string& Bytes() { return Buffer; }
    void DrainIfFull()
    {
        if (Buffer.size() >= kCapacity)
            Drain();
    }
    // Writes everything buffered; raises std::system_error naming the file on failure.
    void Drain();
    // Writes `size` bytes at `offset` of a seekable descriptor, bypassing the buffer.
    void WriteAt(uint64_t offset, const void* data, size_t size);
    int Fd() const { return Descriptor; }
    // The records are lines: a write that fails keeps the whole lines it wrote.
    void SetLineRecords() { LineRecords = true; }
    const std::string& Name() const { return FileName; }

private:
    [[noreturn]] void Fail(int error) const;
    int Descriptor;
    std::string FileName;
    std::string Buffer;
    bool LineRecords = false;
};

// The byte offset of a regular file's descriptor, or -1 when it cannot seek (pipe, fifo, terminal).
int64_t SeekableOffset(int fd);

// Decimal digits of `value`, at least `minDigits` of them (zero-padded).
void AppendPadded(std::string& out, uint64_t value, int minDigits);

// Buffered reading from a descriptor, counting the bytes taken. Read errors end the input;
// Error() then holds errno.
class TFdInput {
public:
    static constexpr size_t kCapacity = 64 * 1024;

    TFdInput(int fd, bool owned);
    ~TFdInput();
    TFdInput(const TFdInput&) = delete;
    TFdInput& operator=(const TFdInput&) = delete;

    // Up to `size` bytes; fewer only at the end of the input.
    size_t Read(void* target, size_t size);
    // Passes over up to `size` bytes; the count passed.
    uint64_t Skip(uint64_t size);
    // The next line without "\n" or "\r\n"; false at the end. A line longer than `maxLength` is
    // cut there and `tooLong` set; the rest of it is passed over.
    bool ReadLine(std::string& line, bool& tooLong, size_t maxLength);
    uint64_t Offset() const { return Taken; }
    int Error() const { return ReadError; }

private:
    bool Fill();
    int Descriptor;
    bool Owned;
    unsigned char* Data;
    size_t Pos = 0;
    size_t End = 0;
    bool AtEnd = false;
    int ReadError = 0;
    uint64_t Taken = 0;
};

// Common part of the readers: the name used in messages and the error report.
class TRecordReaderBase : public TRecordReader {
protected:
    TRecordReaderBase(int fd, bool owned, std::string name) : In(fd, owned), Name(std::move(name)) {}
    void ReportLine(uint64_t line, const std::string& what);
    void ReportOffset(uint64_t offset, const std::string& what);
    // Reports a read error once; true when the input failed.
    bool ReportReadError();

    TFdInput In;
    std::string Name;

private:
    bool ReadErrorReported = false;
};

// Common part of the text readers: bounded lines, numbered, each malformed one reported once.
class TLineRecordReader : public TRecordReaderBase {
protected:
    bool NextFrame(TRecordFrame& out) final;

    TLineRecordReader(int fd, bool owned, std::string name, size_t maxLine)
        : TRecordReaderBase(fd, owned, std::move(name)), MaxLine(maxLine)
    {
    }
    // One line without its end: true with `out` filled for a frame; false otherwise, with `what`
    // saying why the line is malformed, or left empty for a line that holds no frame.
    virtual bool TakeLine(const std::string& line, TRecordFrame& out, std::string& what) = 0;

private:
    size_t MaxLine;
    std::string Line;
    uint64_t LineNumber = 0;
};

// Frame.Time of a read frame: wall-clock milliseconds modulo 2^32.
inline uint32_t TickFromWallUs(int64_t wallUs)
{
    return static_cast<uint32_t>(static_cast<uint64_t>(wallUs / 1000));
}

} // namespace tcm::recording
