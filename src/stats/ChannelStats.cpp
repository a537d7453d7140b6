#include "stats/ChannelStats.h"

#include <algorithm>

#include "stats/FrameBits.h"

namespace {

uint8_t KindOf(const TCanFrame& frame, bool outgoing)
{
    return static_cast<uint8_t>((frame.Standard ? kStatsStandard : 0) | (frame.Request ? kStatsRemote : 0) |
                                (outgoing ? kStatsOutgoing : 0));
}

// Identifier and kind in one key: the 29 bits an identifier can have on the
// wire, then the three kind bits.
uint32_t KeyOf(const TCanFrame& frame, uint8_t kind)
{
    return (frame.Id & 0x1FFFFFFF) << 3 | kind;
}

} // namespace

TStatsAccumulator::TStatsAccumulator() = default;

void TStatsAccumulator::Start(int32_t rate, int64_t startUs)
{
    Channel = TChannelCounters{};
    Channel.Rate = rate;
    Channel.StartUs = startUs;
    Channel.LatestUs = startUs;
    Peak.Clear();
    Load.Clear();
    Index.Clear();
    Blocks.clear();
    Count = 0;
    PendingCount = 0;
}

TIdCounters* TStatsAccumulator::Find(uint32_t key)
{
    const uint32_t place = Index.Find(key);
    if (place != TTarvenixRowIndex::kNone)
        return &Blocks[place / kBlockSize][place % kBlockSize];
    if (Count >= MaxIdentifiers)
        return nullptr;
    if (Count % kBlockSize == 0)
        Blocks.push_back(std::make_unique<TIdCounters[]>(kBlockSize));
    TIdCounters& item = Blocks[Count / kBlockSize][Count % kBlockSize];
    item.Id = key >> 3;
    item.Kind = static_cast<uint8_t>(key & 7);
    Index.Add(key, static_cast<uint32_t>(Count));
    ++Count;
    return &item;
}

void TStatsAccumulator::AddToChannel(bool outgoing, int64_t timeUs, int64_t eighth, uint64_t bits)
{
    Channel.LatestUs = std::max(Channel.LatestUs, timeUs);
    TDirectionCounters& direction = outgoing ? Channel.Out : Channel.In;
    ++direction.Frames;
    direction.Bits += bits;
    direction.RecentFrames.Add(eighth, 1);
    direction.RecentBits.Add(eighth, bits);
    Peak.Add(timeUs, bits);
    Channel.PeakBits = Peak.PeakBits();
    Channel.PeakEndUs = Peak.PeakEndUs();
    Load.Add(timeUs - Channel.StartUs, bits);
}

void TStatsAccumulator::Add(const TCanFrame& frame, bool outgoing, int64_t timeUs)
{
    const int bits = CanFrameBits(frame);
    const int64_t sinceStart = timeUs - Channel.StartUs;
    const int64_t eighth = sinceStart < 0 ? 0 : sinceStart / TLastSecond<uint64_t>::kSlotUs;
    AddToChannel(outgoing, timeUs, eighth, static_cast<uint64_t>(bits));
    const uint8_t kind = KindOf(frame, outgoing);
    Pending[PendingCount++] = {KeyOf(frame, kind), frame.Length, static_cast<uint32_t>(bits), timeUs, eighth};
    if (PendingCount == kBatch)
        FlushPending();
}

void TStatsAccumulator::FlushPending()
{
    for (size_t i = 0; i < PendingCount; ++i)
        Index.Prefetch(Pending[i].Key);
    TIdCounters* items[kBatch];
    for (size_t i = 0; i < PendingCount; ++i) {
        items[i] = Find(Pending[i].Key);
        if (items[i]) {
            __builtin_prefetch(items[i], 1);
            __builtin_prefetch(reinterpret_cast<const char*>(items[i]) + 64, 1);
        }
    }
    for (size_t i = 0; i < PendingCount; ++i) {
        if (items[i])
            AddToId(*items[i], Pending[i]);
        else
            ++Channel.Untracked;
    }
    PendingCount = 0;
}

void TStatsAccumulator::AddToId(TIdCounters& item, const TPendingFrame& frame)
{
    if (item.Count > 0) {
        // Each identifier is fed by one thread, in time order; a recording
        // whose times run back counts a zero period.
        const int64_t period = std::max<int64_t>(frame.TimeUs - item.LastUs, 0);
        if (item.Count == 1) {
            item.PeriodBaseUs = item.PeriodMinUs = item.PeriodMaxUs = period;
        } else {
            item.PeriodMinUs = std::min(item.PeriodMinUs, period);
            item.PeriodMaxUs = std::max(item.PeriodMaxUs, period);
        }
        const auto deviation = static_cast<double>(period - item.PeriodBaseUs);
        item.PeriodDevSum += deviation;
        item.PeriodDevSquares += deviation * deviation;
    }
    item.LastUs = std::max(frame.TimeUs, item.LastUs);
    ++item.Count;
    item.Bits += frame.Bits;
    item.LastLength = frame.Length;
    item.LastBits = frame.Bits;
    item.Recent.Add(frame.Eighth, 1);
}

void TStatsAccumulator::CopyChannel(TStatsSnapshot& out, int64_t nowUs, bool profile)
{
    FlushPending();
    out.Channel = Channel;
    out.NowUs = Channel.StopUs >= 0 ? Channel.StopUs : nowUs;
    if (profile)
        out.ProfileBits = Load.Slots();
    out.ProfileSlotUs = Load.SlotUs();
}

void TStatsAccumulator::CopyIds(TStatsSnapshot& out, size_t from, size_t to) const
{
    to = std::min(to, Count);
    while (from < to) {
        const TIdCounters* block = Blocks[from / kBlockSize].get() + from % kBlockSize;
        const size_t n = std::min(to - from, kBlockSize - from % kBlockSize);
        out.Ids.insert(out.Ids.end(), block, block + n);
        from += n;
    }
}

TStatsSnapshot TStatsAccumulator::Snapshot(int64_t nowUs)
{
    TStatsSnapshot snapshot;
    CopyChannel(snapshot, nowUs);
    snapshot.Ids.reserve(Count);
    CopyIds(snapshot, 0, Count);
    return snapshot;
}

void TChannelStats::Start(int32_t rate, const tcm::TFrameClock* clock)
{
    tcm::TMutexLock guard(Lock);
    Clock.store(clock);
    Counters.Start(rate, NowUs());
    ++Generation;
    Damaged.store(0, std::memory_order_relaxed);
    Skipped.store(0, std::memory_order_relaxed);
    NotTaken.store(0, std::memory_order_relaxed);
}

void TChannelStats::LimitIdentifiers(size_t most)
{
    tcm::TMutexLock guard(Lock);
    Counters.LimitIdentifiers(most);
}

void TChannelStats::Stop()
{
    tcm::TMutexLock guard(Lock);
    Counters.Stop(NowUs());
}

int64_t TChannelStats::NowUs() const
{
    const tcm::TFrameClock* clock = Clock.load();
    return clock ? clock->NowUs() : 0;
}

void TChannelStats::Add(const TCanFrame& frame, bool outgoing)
{
    // A frame nobody stamped counts now.
    const int64_t timeUs = frame.TimeUs != 0 ? frame.TimeUs : NowUs();
    tcm::TMutexLock guard(Lock);
    Counters.Add(frame, outgoing, timeUs);
}

void TChannelStats::SetParserDrops(uint64_t damagedPackets, uint64_t skippedBytes)
{
    Damaged.store(damagedPackets, std::memory_order_relaxed);
    Skipped.store(skippedBytes, std::memory_order_relaxed);
}

TStatsSnapshot TChannelStats::Snapshot(bool ids) const
{
    TStatsSnapshot snapshot;
    const int64_t nowUs = NowUs();
    for (bool whole = false; !whole;) {
        size_t count = 0;
        uint64_t generation = 0;
        {
            tcm::TMutexLock guard(Lock);
            Counters.CopyChannel(snapshot, nowUs, ids);
            count = ids ? Counters.IdCount() : 0;
            generation = Generation;
        }
        snapshot.Ids.clear();
        snapshot.Ids.reserve(count);
        whole = true;
        for (size_t i = 0; i < count; i += TStatsAccumulator::kBlockSize) {
            tcm::TMutexLock guard(Lock);
            if (Generation != generation) {
                whole = false; // a new run began meanwhile: take that one
                break;
            }
            Counters.CopyIds(snapshot, i, std::min(count, i + TStatsAccumulator::kBlockSize));
        }
    }
    snapshot.Channel.ParserDamaged = Damaged.load(std::memory_order_relaxed);
    snapshot.Channel.ParserSkipped = Skipped.load(std::memory_order_relaxed);
    snapshot.Channel.NotTaken = NotTaken.load(std::memory_order_relaxed);
    return snapshot;
}
