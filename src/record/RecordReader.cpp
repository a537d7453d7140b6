#include "record/RecordReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "record/RecordIo.h"

using namespace tcm::recording;

namespace {

std::unique_ptr<TRecordReader> CreateReader(TRecordFormat format, int fd, bool owned, const std::string& name)
{
    switch (format) {
    case TRecordFormat::Candump:
        return CreateCandumpReader(fd, owned, name);
    case TRecordFormat::Asc:
        return CreateAscReader(fd, owned, name);
    case TRecordFormat::Blf:
        return CreateBlfReader(fd, owned, name);
    case TRecordFormat::Pcap:
        return CreatePcapReader(fd, owned, name);
    case TRecordFormat::Trace:
        break;
    }
    return nullptr;
}

bool StartsWith(std::string_view text, std::string_view start)
{
    return text.substr(0, start.size()) == start;
}

// The format a file's first bytes show; nothing when they show none.
std::optional<TRecordFormat> FormatFromContent(std::string_view head)
{
    static const char kPcapMagics[][4] = {{'\xD4', '\xC3', '\xB2', '\xA1'},
                                          {'\xA1', '\xB2', '\xC3', '\xD4'},
                                          {'\x4D', '\x3C', '\xB2', '\xA1'},
                                          {'\xA1', '\xB2', '\x3C', '\x4D'},
                                          {'\x0A', '\x0D', '\x0D', '\x0A'}};
    for (const auto& magic : kPcapMagics)
        if (StartsWith(head, std::string_view(magic, 4)))
            return TRecordFormat::Pcap;
    if (StartsWith(head, "LOGG"))
        return TRecordFormat::Blf;
    // The first line that is not empty decides between the text formats.
    size_t start = head.find_first_not_of(" \t\r\n");
    if (start == std::string_view::npos)
        return std::nullopt;
    const std::string_view line = head.substr(start, head.find('\n', start) - start);
    if (line[0] == '(')
        return TRecordFormat::Candump;
    for (std::string_view word :
         {"date ", "base ", "//", "internal events", "no internal events", "Begin Triggerblock"})
        if (StartsWith(line, word))
            return TRecordFormat::Asc;
    return std::nullopt;
}

} // namespace

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
    auto format = FormatFromContent(std::string_view(head, static_cast<size_t>(n)));
    if (!format) {
        format = RecordFormatFromPath(path);
        if (format == TRecordFormat::Trace)
            format.reset();
    }
    if (!format) {
        ::close(fd);
        error = path + " is no recording this program reads (candump log, ASC, BLF or pcap)";
        return nullptr;
    }
    return CreateReader(*format, fd, true, path);
}

std::unique_ptr<TRecordReader> CreateRecordReader(TRecordFormat format, int fd, const std::string& name)
{
    return CreateReader(format, fd, false, name);
}
