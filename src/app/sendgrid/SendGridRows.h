#pragma once
#include <array>
#include <cstdint>

#include <QString>

#include "transmit/CanSend.h"

// The transmit grid's rows over the transmit list: grid row 0 is the header,
// so the item at list position p is shown on grid row p + 1.
constexpr int kSendGridColumnCount = 8;
constexpr int kSendGridActiveColumn = 1;
constexpr int kSendGridCountColumn = 7;

constexpr int GridRowOfIndex(int index)
{
    return index + 1;
}
constexpr int ListIndexOfRow(int row)
{
    return row - 1;
}

// The Tag the grid gives each shown item, handed back with every count
// change: the channel in bits 16..23, the list position in bits 0..15.
struct TSendGridTag {
    static uint32_t Make(int channel, int index)
    {
        return static_cast<uint32_t>(channel) * 65536u + static_cast<uint32_t>(index);
    }
    static int Channel(uint32_t tag) { return static_cast<int>((tag >> 16) & 255u); }
    static int Index(uint32_t tag) { return static_cast<int>(tag & 65535u); }
};

struct TSendGridColumn {
    const char* Title;
    int Width;
};
extern const std::array<TSendGridColumn, kSendGridColumnCount> kSendGridColumns;

// The texts of one item's row, column by column; under the item's list's lock.
using TSendGridRowTexts = std::array<QString, kSendGridColumnCount>;
TSendGridRowTexts SendGridRowTexts(const TCanSendItem& item, bool standardIds) TCM_REQUIRES(SendListRole);
