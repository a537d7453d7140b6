#include "record/RecordIo.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>
#include <system_error>

#include "platform/WriteAll.h"

namespace tcm::recording {

TFdOutput::TFdOutput(int fd, std::string name) : Descriptor(fd), FileName(std::move(name))
{
    Buffer.reserve(kCapacity + 1024);
}

void TFdOutput::Fail(int error) const
{
    throw std::system_error(error, std::generic_category(), "Unable to write to " + FileName);
}

void TFdOutput::Drain()
{
    // Every drain starts on a record boundary: writers drain only after whole records.
    const int64_t start = Buffer.empty() ? -1 : SeekableOffset(Descriptor);
    // A non-blocking pipe that is full is waited on until the reader takes some.
    size_t written = 0;
    if (const int error = tcm::WriteAll(Descriptor, Buffer.data(), Buffer.size(), -1, &written); error != 0) {
        if (start >= 0 && written > 0) {
            // A full disk cut a record: the file is cut back to end at its last whole record.
            const size_t line = LineRecords ? std::string_view(Buffer.data(), written).rfind('\n') : std::string::npos;
            const auto keep = static_cast<off_t>(start) + static_cast<off_t>(line == std::string::npos ? 0 : line + 1);
            if (::ftruncate(Descriptor, keep) == 0)
                ::lseek(Descriptor, keep, SEEK_SET);
        }
        Buffer.clear();
        Fail(error);
    }
    Buffer.clear();
}

void TFdOutput::WriteAt(uint64_t offset, const void* data, size_t size)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::pwrite(Descriptor, p, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            Fail(n < 0 ? errno : EIO);
        p += n;
        size -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
}

int64_t SeekableOffset(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    const off_t at = ::lseek(fd, 0, SEEK_CUR);
    return at < 0 ? -1 : static_cast<int64_t>(at);
}

void AppendPadded(std::string& out, uint64_t value, int minDigits)
{
    char digits[24];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (n < minDigits && n < 24)
        digits[n++] = '0';
    while (n > 0)
        out.push_back(digits[--n]);
}

TFdInput::TFdInput(int fd, bool owned) : Descriptor(fd), Owned(owned), Data(new unsigned char[kCapacity]) {}

TFdInput::~TFdInput()
{
    delete[] Data;
    if (Owned && Descriptor >= 0)
        ::close(Descriptor);
}

bool TFdInput::Fill()
{
    if (Pos < End)
        return true;
    Pos = End = 0;
    while (!AtEnd) {
        const ssize_t n = ::read(Descriptor, Data, kCapacity);
        if (n > 0) {
            End = static_cast<size_t>(n);
            return true;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{Descriptor, POLLIN, 0};
            ::poll(&p, 1, 1000);
            continue;
        }
        if (n < 0)
            ReadError = errno;
        AtEnd = true;
    }
    return false;
}

size_t TFdInput::Read(void* target, size_t size)
{
    unsigned char* out = static_cast<unsigned char*>(target);
    size_t done = 0;
    while (done < size && Fill()) {
        const size_t n = std::min(size - done, End - Pos);
        std::memcpy(out + done, Data + Pos, n);
        Pos += n;
        done += n;
    }
    Taken += done;
    return done;
}

uint64_t TFdInput::Skip(uint64_t size)
{
    uint64_t done = 0;
    while (done < size && Fill()) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(size - done, End - Pos));
        Pos += n;
        done += n;
    }
    Taken += done;
    return done;
}

bool TFdInput::ReadLine(std::string& line, bool& tooLong, size_t maxLength)
{
    line.clear();
    tooLong = false;
    bool any = false;
    while (Fill()) {
        any = true;
        const unsigned char* start = Data + Pos;
        const void* nl = std::memchr(start, '\n', End - Pos);
        const size_t n = nl ? static_cast<size_t>(static_cast<const unsigned char*>(nl) - start) : End - Pos;
        const size_t keep = std::min(n, maxLength - std::min(maxLength, line.size()));
        line.append(reinterpret_cast<const char*>(start), keep);
        if (keep < n)
            tooLong = true;
        Pos += n;
        Taken += n;
        if (nl) {
            ++Pos;
            ++Taken;
            break;
        }
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return any;
}

bool TLineRecordReader::NextFrame(TRecordFrame& out)
{
    bool tooLong = false;
    while (In.ReadLine(Line, tooLong, MaxLine)) {
        ++LineNumber;
        if (tooLong) {
            ReportLine(LineNumber, "line too long");
            continue;
        }
        std::string what;
        out.Channel = 1;
        if (TakeLine(Line, out, what))
            return true;
        if (!what.empty())
            ReportLine(LineNumber, what);
    }
    ReportReadError();
    return false;
}

void TRecordReaderBase::ReportLine(uint64_t line, const std::string& what)
{
    if (OnError)
        OnError(Name + ": line " + std::to_string(line) + ": " + what);
}

void TRecordReaderBase::ReportOffset(uint64_t offset, const std::string& what)
{
    if (OnError)
        OnError(Name + ": offset " + std::to_string(offset) + ": " + what);
}

bool TRecordReaderBase::ReportReadError()
{
    if (In.Error() == 0)
        return false;
    if (!ReadErrorReported && OnError)
        OnError(Name + ": " + std::strerror(In.Error()));
    ReadErrorReported = true;
    return true;
}

} // namespace tcm::recording
