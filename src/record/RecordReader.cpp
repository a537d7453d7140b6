#include "record/RecordReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "record/RecordWriter.h"

std::unique_ptr<TRecordReader> OpenRecordReader(const std::string& path, std::string& error)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "Unable to open " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        error = "Unable to open " + path + ": " + std::strerror(EISDIR);
        return nullptr;
    }
    char head[512];
    ssize_t n = ::pread(fd, head, sizeof head, 0);
    if (n < 0)
        n = 0;
    // The content decides; the extension only when the content shows no format.
    const std::string_view bytes(head, static_cast<size_t>(n));
    const TRecordFormatEntry* format = nullptr;
    for (const TRecordFormatEntry* e : RecordFormats())
        if (!format && e->Reader && e->Sniff && e->Sniff(bytes))
            format = e;
    if (!format)
        if (const auto byName = RecordFormatFromPath(path); byName && RecordFormatEntry(*byName).Reader)
            format = &RecordFormatEntry(*byName);
    if (!format) {
        ::close(fd);
        error = path + " is no recording this program reads (" + RecordFormatDescriptions(true) + ")";
        return nullptr;
    }
    return format->Reader(fd, true, path);
}

std::unique_ptr<TRecordReader> CreateRecordReader(TRecordFormat format, int fd, const std::string& name)
{
    const TRecordFormatEntry& e = RecordFormatEntry(format);
    return e.Reader ? e.Reader(fd, false, name) : nullptr;
}

std::unique_ptr<TRecordWriter> CreateRecordWriter(TRecordFormat format, int fd, const std::string& name,
                                                  const TRecordWriterOptions& options)
{
    return RecordFormatEntry(format).Writer(fd, name, options);
}

bool TRecordReader::Next(TRecordFrame& out)
{
    while (NextFrame(out)) {
        uint64_t& seen = Channels[out.Channel];
        ++seen;
        if (out.Channel == Channel)
            return true;
        // A damaged file must not grow the map without end.
        if (seen == 1 && Channels.size() > 256)
            Channels.erase(out.Channel);
    }
    return false;
}

namespace {

std::string Counted(uint64_t n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string Joined(const std::vector<std::string>& items)
{
    std::string out;
    for (size_t i = 0; i < items.size(); ++i)
        out += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
    return out;
}

} // namespace

std::string TRecordReader::LeftOut() const
{
    std::vector<std::string> parts;
    uint64_t total = 0;
    if (Dropped.Fd > 0)
        parts.push_back(Counted(Dropped.Fd, "CAN FD frame", "CAN FD frames"));
    if (Dropped.Error > 0)
        parts.push_back(Counted(Dropped.Error, "error frame", "error frames"));
    total = Dropped.Fd + Dropped.Error;
    std::vector<std::string> others;
    std::vector<std::string> all;
    uint64_t otherFrames = 0;
    for (const auto& [channel, count] : Channels) {
        all.push_back(std::to_string(channel));
        if (channel != Channel) {
            others.push_back(std::to_string(channel));
            otherFrames += count;
        }
    }
    if (otherFrames > 0)
        parts.push_back(Counted(otherFrames, "frame", "frames") + " of channel" + (others.size() > 1 ? "s " : " ") +
                        Joined(others));
    total += otherFrames;
    std::string text;
    if (all.size() > 1 || (all.size() == 1 && otherFrames > 0))
        text = "Channel" + std::string(all.size() > 1 ? "s " : " ") + Joined(all) + " found, channel " +
               std::to_string(Channel) + " read. ";
    if (!parts.empty())
        text += Joined(parts) + (total == 1 ? " was" : " were") + " left out";
    else if (!text.empty())
        text.pop_back();
    return text;
}
