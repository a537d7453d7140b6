#include "signals/DbcDatabase.h"

#include <algorithm>

const std::string* TDbcSignal::ValueText(int64_t raw) const
{
    // Value tables are short; a binary search keeps long ones cheap too.
    auto it = std::lower_bound(Values.begin(), Values.end(), raw,
                               [](const TDbcValueText& v, int64_t r) { return v.Raw < r; });
    return it != Values.end() && it->Raw == raw ? &it->Text : nullptr;
}

TDbcSignal* TDbcMessage::FindSignal(const std::string& name)
{
    for (auto& signal : Signals)
        if (signal.Name == name)
            return &signal;
    return nullptr;
}

bool LayOutSignal(TDbcSignal& signal, std::string& error)
{
    const uint32_t length = signal.Length;
    if (length < 1 || length > 64) {
        error = "signal length " + std::to_string(length) + " is not 1..64 bits";
        return false;
    }
    if (signal.StartBit > 63) {
        error = "start bit " + std::to_string(signal.StartBit) + " lies beyond the eight data bytes";
        return false;
    }
    uint32_t end = 0; // one past the last bit, counted in the byte order's own direction
    if (signal.Order == TDbcByteOrder::Intel) {
        end = signal.StartBit + length;
        signal.Shift = signal.StartBit;
    } else {
        // Motorola: the start bit is the most significant bit, numbered
        // 7..0 within byte 0, 15..8 within byte 1 and so on. Counted from the
        // first byte's top bit instead, the signal runs msb .. msb+length-1.
        const uint32_t msb = (signal.StartBit / 8) * 8 + (7 - signal.StartBit % 8);
        end = msb + length;
        signal.Shift = end <= 64 ? 64 - end : 0;
    }
    if (end > 64) {
        error = "signal bits run past the eight data bytes";
        return false;
    }
    signal.Mask = length == 64 ? ~0ull : (1ull << length) - 1;
    signal.BytesNeeded = (end + 7) / 8;
    return true;
}

const TDbcMessage* TDbcDatabase::Find(uint32_t id, bool extended) const
{
    auto it = ById.find(Key(id, extended));
    return it == ById.end() ? nullptr : &Messages[it->second];
}

TDbcMessage* TDbcDatabase::FindMessage(uint32_t id, bool extended)
{
    auto it = ById.find(Key(id, extended));
    return it == ById.end() ? nullptr : &Messages[it->second];
}

TDbcMessage& TDbcDatabase::AddMessage(TDbcMessage message)
{
    Messages.push_back(std::move(message));
    ById.emplace(Key(Messages.back().Id, Messages.back().Extended), Messages.size() - 1);
    return Messages.back();
}

void TDbcDatabase::Index()
{
    ById.clear();
    for (size_t i = 0; i < Messages.size(); ++i) {
        TDbcMessage& m = Messages[i];
        m.Multiplexor = -1;
        for (size_t s = 0; s < m.Signals.size(); ++s)
            if (m.Signals[s].Mux == TDbcMuxRole::Multiplexor && m.Multiplexor < 0)
                m.Multiplexor = static_cast<int>(s);
        ById.emplace(Key(m.Id, m.Extended), i);
    }
}

size_t TDbcDatabase::SignalCount() const
{
    size_t n = 0;
    for (const auto& m : Messages)
        n += m.Signals.size();
    return n;
}
