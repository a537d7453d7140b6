#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

// Collects `count` bytes from a reader with the Read convention (>0 bytes, 0
// quiet, <0 error); stops early on an error or after `limitMs` without enough.
inline std::vector<uint8_t> Collect(const std::function<int(uint8_t*, int, int)>& read, size_t count,
                                    int limitMs = 5000)
{
    std::vector<uint8_t> got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    uint8_t buffer[4096];
    while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
        const int want = static_cast<int>(std::min(sizeof buffer, count - got.size()));
        const int n = read(buffer, want, 20);
        if (n < 0)
            break;
        got.insert(got.end(), buffer, buffer + n);
    }
    return got;
}

// Every byte value once, the troublesome ones first: NUL, CR, LF, XON, XOFF, 0xFF,
// the terminal's interrupt, end-of-file and erase characters.
inline std::vector<uint8_t> AllByteValues()
{
    std::vector<uint8_t> bytes = {0x00, 0x0D, 0x0A, 0x11, 0x13, 0xFF, 0x03, 0x04, 0x7F, 0x1A, 0x0D, 0x0A};
    for (int i = 0; i < 256; ++i)
        bytes.push_back(static_cast<uint8_t>(i));
    return bytes;
}
