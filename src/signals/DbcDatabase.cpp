#include "signals/DbcDatabase.h"

#include <algorithm>

const std::string* TDbcSignal::ValueText(int64_t raw) const
{
    // Value tables are short; a binary search keeps long ones cheap too.
    auto it = std::lower_bound(Values.begin(), Values.end(), raw,
                               [](const TDbcValueText& v, int64_t r) { return v.Raw < r; });
    return it != Values.end() && it->Raw == raw ? &it->Text : nullptr;
}

bool TDbcSignal::SelectedBy(uint64_t value) const
{
    if (MuxRanges.empty())
        return value == MuxValue;
    for (const auto& range : MuxRanges)
        if (value >= range.Low && value <= range.High)
            return true;
    return false;
}

int TDbcMessage::SignalIndex(std::string_view name) const
{
    auto it = ByName.find(name);
    return it == ByName.end() ? -1 : it->second;
}

TDbcSignal* TDbcMessage::FindSignal(std::string_view name)
{
    const int i = SignalIndex(name);
    return i < 0 ? nullptr : &Signals[static_cast<size_t>(i)];
}

const TDbcSignal* TDbcMessage::FindSignal(std::string_view name) const
{
    const int i = SignalIndex(name);
    return i < 0 ? nullptr : &Signals[static_cast<size_t>(i)];
}

bool TDbcMessage::AddSignal(TDbcSignal signal)
{
    if (!ByName.emplace(signal.Name, static_cast<int>(Signals.size())).second)
        return false;
    Signals.push_back(std::move(signal));
    return true;
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

const TDbcMessage* TDbcDatabase::FindByName(std::string_view name) const
{
    for (const auto& m : Messages)
        if (m.Name == name)
            return &m;
    return nullptr;
}

void TDbcDatabase::Index()
{
    ById.clear();
    for (size_t i = 0; i < Messages.size(); ++i) {
        IndexMultiplexing(Messages[i]);
        ById.emplace(Key(Messages[i].Id, Messages[i].Extended), i);
    }
}

void TDbcDatabase::IndexMultiplexing(TDbcMessage& m)
{
    m.Multiplexor = -1;
    m.MuxOrder.clear();
    for (size_t s = 0; s < m.Signals.size(); ++s) {
        m.Signals[s].MuxParent = -1;
        m.Signals[s].MuxSlot = -1;
        if (m.Signals[s].IsMultiplexor && !m.Signals[s].IsMultiplexed && m.Multiplexor < 0)
            m.Multiplexor = static_cast<int>(s);
    }
    for (TDbcSignal& signal : m.Signals) {
        if (!signal.IsMultiplexed)
            continue;
        const int parent = signal.MuxSwitch.empty() ? m.Multiplexor : m.SignalIndex(signal.MuxSwitch);
        if (parent < 0 || !m.Signals[static_cast<size_t>(parent)].IsMultiplexor ||
            &m.Signals[static_cast<size_t>(parent)] == &signal) {
            Problems.push_back({signal.Line, "the multiplexed signal " + signal.Name + " of " + m.Name +
                                                 (signal.MuxSwitch.empty() ? " has no multiplexor"
                                                                           : " names " + signal.MuxSwitch +
                                                                                 ", which is no multiplexor of it")});
            continue;
        }
        signal.MuxParent = parent;
    }
    // Orders the multiplexors so that each comes after the one that selects
    // it, walking each chain up once; a chain that runs in a circle, or up to
    // a multiplexed signal without multiplexor, is never decoded.
    enum : uint8_t { kUnseen, kOnPath, kUsable, kUnusable };
    std::vector<uint8_t> state(m.Signals.size(), kUnseen);
    std::vector<int> path;
    bool circle = false;
    for (size_t start = 0; start < m.Signals.size(); ++start) {
        if (!m.Signals[start].IsMultiplexor || state[start] != kUnseen)
            continue;
        path.clear();
        int at = static_cast<int>(start);
        uint8_t verdict = kUsable;
        for (;;) {
            const TDbcSignal& s = m.Signals[static_cast<size_t>(at)];
            if (state[static_cast<size_t>(at)] == kOnPath) {
                verdict = kUnusable;
                circle = true;
                break;
            }
            if (state[static_cast<size_t>(at)] != kUnseen) {
                verdict = state[static_cast<size_t>(at)];
                break;
            }
            state[static_cast<size_t>(at)] = kOnPath;
            path.push_back(at);
            if (!s.IsMultiplexed)
                break;
            if (s.MuxParent < 0) {
                verdict = kUnusable;
                break;
            }
            at = s.MuxParent;
        }
        for (auto it = path.rbegin(); it != path.rend(); ++it) {
            state[static_cast<size_t>(*it)] = verdict;
            if (verdict == kUsable) {
                m.Signals[static_cast<size_t>(*it)].MuxSlot = static_cast<int>(m.MuxOrder.size());
                m.MuxOrder.push_back(*it);
            }
        }
    }
    if (circle)
        Problems.push_back(
            {m.Line, "multiplexors of " + m.Name + " select each other in a circle; their signals are not decoded"});
}

size_t TDbcDatabase::SignalCount() const
{
    size_t n = 0;
    for (const auto& m : Messages)
        n += m.Signals.size();
    return n;
}
