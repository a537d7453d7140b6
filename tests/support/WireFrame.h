#pragma once
// A frame's length on the wire worked out the plain way, as a second opinion
// beside the program's own computation: every bit one element, fields
// appended one by one, the CRC computed bit by bit as the controller's shift
// register does, stuff bits really inserted, the fixed tail appended bit by bit.
#include <iterator>
#include <vector>

#include "core/CanGeneral.h"

namespace wire {

struct TWireFrame {
    std::vector<int> Bits;

    void Field(uint64_t value, int width)
    {
        for (int i = width - 1; i >= 0; --i)
            Bits.push_back(static_cast<int>((value >> i) & 1));
    }
};

inline int Crc15(const std::vector<int>& bits)
{
    int crc = 0;
    for (int bit : bits) {
        const int next = bit ^ ((crc >> 14) & 1);
        crc = (crc << 1) & 0x7FFF;
        if (next)
            crc ^= 0x4599;
    }
    return crc;
}

inline std::vector<int> Stuff(const std::vector<int>& bits)
{
    std::vector<int> out;
    int run = 0;
    int last = -1;
    for (int bit : bits) {
        out.push_back(bit);
        run = bit == last ? run + 1 : 1;
        last = bit;
        if (run == 5) {
            out.push_back(1 - bit);
            last = 1 - bit;
            run = 1;
        }
    }
    return out;
}

inline int WireLength(const TCanFrame& f)
{
    TWireFrame w;
    w.Field(0, 1); // SOF
    const int dlc = f.Length < 0 ? 0 : (f.Length > 15 ? 15 : f.Length);
    if (f.Standard) {
        w.Field(f.Id & 0x7FF, 11);
        w.Field(f.Request ? 1 : 0, 1); // RTR
        w.Field(0, 1);                 // IDE
        w.Field(0, 1);                 // r0
    } else {
        const uint32_t id = f.Id & 0x1FFFFFFF;
        w.Field(id >> 18, 11);
        w.Field(1, 1); // SRR
        w.Field(1, 1); // IDE
        w.Field(id & 0x3FFFF, 18);
        w.Field(f.Request ? 1 : 0, 1); // RTR
        w.Field(0, 2);                 // r1, r0
    }
    w.Field(static_cast<uint64_t>(dlc), 4);
    if (!f.Request)
        for (int i = 0; i < dlc && i < 8; ++i)
            w.Field(f.Data[i], 8);
    w.Field(static_cast<uint64_t>(Crc15(w.Bits)), 15);
    std::vector<int> wire = Stuff(w.Bits);
    const int tail[] = {1, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}; // CRC delim, ACK, ACK delim, EOF x7, IFS x3
    wire.insert(wire.end(), std::begin(tail), std::end(tail));
    return static_cast<int>(wire.size());
}

} // namespace wire
