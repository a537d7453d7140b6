#include "BlfTestFiles.h"

#include <zlib.h>

#include <cstring>

#include "record/BlfLayout.h"

using namespace tcm::recording::blf;

namespace tcmtest {
namespace {

std::string Bytes(const unsigned char* p, size_t n)
{
    return std::string(reinterpret_cast<const char*>(p), n);
}

// An object with a version 1 header, `ns` after the file's start.
std::string Object(uint32_t type, const std::string& body, uint64_t ns)
{
    unsigned char h[kBaseHeaderSize + kHeaderV1Size] = {'L', 'O', 'B', 'J'};
    Put16(h + 4, kBaseHeaderSize + kHeaderV1Size);
    Put16(h + 6, 1);
    Put32(h + 8, static_cast<uint32_t>(sizeof h + body.size()));
    Put32(h + 12, type);
    Put32(h + 16, kTimeNanos);
    Put64(h + 24, ns);
    return Bytes(h, sizeof h) + body;
}

std::string CanMessage(const TRecordFrame& r, int64_t startUs)
{
    unsigned char m[kCanMessageSize] = {};
    Put16(m, 1);
    m[2] = static_cast<unsigned char>((r.Outgoing ? kFlagTx : 0) | (r.Frame.Request ? kFlagRemote : 0));
    m[3] = static_cast<unsigned char>(r.Frame.Length);
    Put32(m + 4, r.Frame.Standard ? r.Frame.Id : (r.Frame.Id | kIdExtended));
    if (!r.Frame.Request)
        std::memcpy(m + 8, r.Frame.Data, 8);
    return Object(kTypeCanMessage, Bytes(m, sizeof m), static_cast<uint64_t>(r.WallUs - startUs) * 1000);
}

std::string ErrorFrame(uint64_t ns)
{
    unsigned char e[32] = {};
    Put16(e, 1);
    Put32(e + 20, 0x123);
    return Object(kTypeCanErrorExt, Bytes(e, sizeof e), ns);
}

std::string Container(const std::string& content, bool compressed)
{
    std::string payload = content;
    if (compressed) {
        uLongf size = compressBound(static_cast<uLong>(content.size()));
        payload.resize(size);
        compress2(reinterpret_cast<Bytef*>(payload.data()), &size, reinterpret_cast<const Bytef*>(content.data()),
                  static_cast<uLong>(content.size()), 1);
        payload.resize(size);
    }
    unsigned char h[kBaseHeaderSize + kContainerHeaderSize] = {'L', 'O', 'B', 'J'};
    Put16(h + 4, kBaseHeaderSize);
    Put16(h + 6, 1);
    const auto objectSize = static_cast<uint32_t>(sizeof h + payload.size());
    Put32(h + 8, objectSize);
    Put32(h + 12, kTypeLogContainer);
    Put16(h + 16, compressed ? kCompressionZlib : kCompressionNone);
    Put32(h + 24, static_cast<uint32_t>(content.size()));
    return Bytes(h, sizeof h) + payload + std::string(objectSize % 4, '\0');
}

std::string FileHeader(int64_t startUs, uint32_t objects)
{
    unsigned char h[kFileHeaderSize] = {'L', 'O', 'G', 'G'};
    Put32(h + 4, kFileHeaderSize);
    h[12] = 2;
    h[13] = 6;
    h[14] = 8;
    h[15] = 1;
    Put32(h + kOffObjectCount, objects);
    PutSystemTime(h + kOffStartTime, startUs / 1000);
    PutSystemTime(h + kOffStopTime, startUs / 1000);
    return Bytes(h, sizeof h);
}

} // namespace

std::string PaddedBlf(const std::vector<TRecordFrame>& frames, size_t padding)
{
    const int64_t startUs = frames.front().WallUs / 1000 * 1000;
    std::string first;
    std::string second;
    for (size_t i = 0; i < frames.size(); ++i) {
        (i < frames.size() / 2 ? first : second) += CanMessage(frames[i], startUs);
        if (i == 2)
            first += ErrorFrame(static_cast<uint64_t>(frames[i].WallUs - startUs) * 1000 + 1);
    }
    return FileHeader(startUs, static_cast<uint32_t>(frames.size() + 1)) +
           Container(first + std::string(padding, '\0'), false) + Container(second + std::string(padding, '\0'), true);
}

std::string ErrorFramesBlf(int64_t startUs, int count)
{
    std::string content;
    for (int i = 0; i < count; ++i)
        content += ErrorFrame(static_cast<uint64_t>(i) * 1000000);
    return FileHeader(startUs, static_cast<uint32_t>(count)) + Container(content, true);
}

std::string BombBlf(int containers, uint32_t declared)
{
    // Zeros compress about a thousand to one: each container is small in the file.
    const std::string zeros(declared, '\0');
    const std::string one = Container(zeros, true);
    std::string file = FileHeader(1700000000000000, 0);
    for (int i = 0; i < containers; ++i)
        file += one;
    return file;
}

} // namespace tcmtest
