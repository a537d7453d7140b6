#include "TrafficGenerator.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr uint32_t kFirstStandardId = 0x100;
constexpr uint32_t kFirstExtendedId = 0x18000000;
constexpr uint32_t kStandardMask = 0x7FF;
constexpr uint32_t kExtendedMask = 0x1FFFFFFF;
constexpr int kMaxGarbageRun = 8;

} // namespace

std::vector<TTrafficGenerator::TSlot> TTrafficGenerator::MakeSlots(const TSeeedSimOptions& options)
{
    std::vector<TSlot> slots;
    const auto standardAt = [&](size_t index, uint32_t id) {
        if (id > kStandardMask)
            return false;
        switch (options.IdKind) {
        case TSimIdKind::Standard:
            return true;
        case TSimIdKind::Extended:
            return false;
        case TSimIdKind::Mixed:
            return index % 2 == 0;
        }
        return true;
    };
    if (!options.Ids.empty()) {
        for (size_t i = 0; i < options.Ids.size(); ++i)
            slots.push_back({options.Ids[i], standardAt(i, options.Ids[i])});
        return slots;
    }
    const int count = std::max(1, options.IdCount);
    for (int i = 0; i < count; ++i) {
        const auto index = static_cast<uint32_t>(i);
        const uint32_t standardId = (kFirstStandardId + index) & kStandardMask;
        if (standardAt(index, standardId))
            slots.push_back({standardId, true});
        else
            slots.push_back({(kFirstExtendedId + index) & kExtendedMask, false});
    }
    return slots;
}

TTrafficGenerator::TTrafficGenerator(const TSeeedSimOptions& options)
    : IdSlots(MakeSlots(options)), Length(options.Length), RemoteShare(options.RemoteShare),
      GarbageShare(options.GarbageShare), Random(options.Seed)
{
}

TCanFrame TTrafficGenerator::Next()
{
    const uint32_t sequence = Sequence++;
    const TSlot& slot = SlotOf(sequence);
    TCanFrame frame;
    frame.Id = slot.Id;
    frame.Standard = slot.Standard;
    frame.Length = Length;
    if (RemoteShare > 0)
        frame.Request = std::uniform_real_distribution<double>(0.0, 1.0)(Random) < RemoteShare;
    const uint32_t check = ~sequence;
    for (int i = 0; i < 4; ++i) {
        frame.Data[i] = static_cast<uint8_t>(sequence >> (8 * i));
        frame.Data[4 + i] = static_cast<uint8_t>(check >> (8 * i));
    }
    return frame;
}

void TTrafficGenerator::AppendGarbage(std::vector<uint8_t>& out)
{
    if (GarbageShare <= 0 || std::uniform_real_distribution<double>(0.0, 1.0)(Random) >= GarbageShare)
        return;
    const int run = std::uniform_int_distribution<int>(1, kMaxGarbageRun)(Random);
    // 255 values without 0xAA: draw 0..254 and step over 0xAA.
    std::uniform_int_distribution<int> value(0, 254);
    for (int i = 0; i < run; ++i) {
        const int v = value(Random);
        out.push_back(static_cast<uint8_t>(v >= 0xAA ? v + 1 : v));
    }
}

bool TTrafficGenerator::SequenceOf(const TCanFrame& frame, uint32_t& sequence)
{
    uint32_t value = 0;
    uint32_t check = 0;
    for (int i = 0; i < 4; ++i) {
        value |= static_cast<uint32_t>(frame.Data[i]) << (8 * i);
        check |= static_cast<uint32_t>(frame.Data[4 + i]) << (8 * i);
    }
    sequence = value;
    return check == ~value;
}

TLinkPacer::TLinkPacer(uint32_t bytesPerSecond, double framesPerSecond)
    : BytesPerSecond(bytesPerSecond), FramesPerSecond(std::max(0.0, framesPerSecond)),
      // 20 ms of the link, and never less than a few packets.
      BurstBytes(std::max(100.0, bytesPerSecond * 0.02)),
      // 100 ms of frames may wait for the link before the oldest are dropped.
      BacklogLimit(static_cast<uint64_t>(std::max(16.0, FramesPerSecond * 0.1)))
{
}

void TLinkPacer::ResetBudget(TClock::time_point now)
{
    Tokens = BurstBytes;
    LastRefill = now;
}

void TLinkPacer::StartSchedule(TClock::time_point now)
{
    ScheduleStart = now;
    Scheduled = 0;
    Abandoned += Due;
    Due = 0;
    Running = FramesPerSecond > 0;
}

void TLinkPacer::StopSchedule()
{
    Abandoned += Due;
    Due = 0;
    Running = false;
}

uint64_t TLinkPacer::TakeDropped()
{
    const uint64_t dropped = Overrun + Abandoned - Numbered;
    Numbered = Overrun + Abandoned;
    return dropped;
}

void TLinkPacer::Advance(TClock::time_point now)
{
    if (!Unlimited() && now > LastRefill) {
        const double seconds = std::chrono::duration<double>(now - LastRefill).count();
        Tokens = std::min(BurstBytes, Tokens + seconds * BytesPerSecond);
        LastRefill = now;
    }
    if (!Running || now <= ScheduleStart)
        return;
    const double seconds = std::chrono::duration<double>(now - ScheduleStart).count();
    const auto total = static_cast<uint64_t>(std::floor(seconds * FramesPerSecond));
    if (total > Scheduled) {
        Due += total - Scheduled;
        Scheduled = total;
    }
    if (Due > BacklogLimit) {
        Overrun += Due - BacklogLimit;
        Due = BacklogLimit;
    }
}

void TLinkPacer::Spend(size_t bytes)
{
    if (!Unlimited())
        Tokens -= static_cast<double>(bytes);
}

TLinkPacer::TClock::time_point TLinkPacer::NextDue() const
{
    if (!Running)
        return TClock::time_point::max();
    const double seconds = static_cast<double>(Scheduled + 1) / FramesPerSecond;
    return ScheduleStart + std::chrono::duration_cast<TClock::duration>(std::chrono::duration<double>(seconds));
}
