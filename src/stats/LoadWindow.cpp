#include "stats/LoadWindow.h"

namespace {

// The grain-wide place a time falls in, rounding down also before zero.
int64_t PlaceOf(int64_t timeUs, int64_t grain)
{
    return timeUs >= 0 ? timeUs / grain : -((-(timeUs + 1)) / grain) - 1;
}

} // namespace

bool TPeakWindow::SamePlace(int64_t aUs, int64_t bUs) const
{
    return aUs == bUs || (Grain > 1 && PlaceOf(aUs, Grain) == PlaceOf(bUs, Grain));
}

void TPeakWindow::Add(int64_t timeUs, uint64_t bits)
{
    if (timeUs < LatestUs)
        timeUs = LatestUs;
    // Once the frames come no closer than the ring can hold, the grain goes
    // back to single microseconds.
    while (Grain > 1 && Size < kMaxPoints / 4)
        Grain /= 2;
    bool joins = Size > 0 && SamePlace(At(Size - 1).TimeUs, timeUs);
    while (!joins && Size == Ring.size()) {
        if (Ring.size() < kMaxPoints)
            Grow();
        else
            Coarsen();
        joins = Size > 0 && SamePlace(At(Size - 1).TimeUs, timeUs);
    }
    if (joins) {
        At(Size - 1).TimeUs = timeUs;
        At(Size - 1).Bits += bits;
    } else {
        At(Size++) = {timeUs, bits};
    }
    LatestUs = timeUs;
    Sum += bits;
    while (At(0).TimeUs <= timeUs - kUsPerSecond) {
        Sum -= At(0).Bits;
        Head = (Head + 1) & (Ring.size() - 1);
        --Size;
    }
    if (Sum > Peak) {
        Peak = Sum;
        PeakEnd = timeUs;
    }
}

void TPeakWindow::Grow()
{
    std::vector<TPoint> bigger(Ring.empty() ? 1024 : Ring.size() * 2);
    for (size_t i = 0; i < Size; ++i)
        bigger[i] = At(i);
    Ring.swap(bigger);
    Head = 0;
}

void TPeakWindow::Coarsen()
{
    // Doubles the grain and joins the neighbours that now share a place; the
    // joined place keeps the later time, so no frame leaves the window early.
    Grain *= 2;
    size_t kept = 0;
    for (size_t i = 0; i < Size; ++i) {
        const TPoint point = At(i);
        if (kept > 0 && SamePlace(At(kept - 1).TimeUs, point.TimeUs)) {
            At(kept - 1).TimeUs = point.TimeUs;
            At(kept - 1).Bits += point.Bits;
        } else {
            At(kept++) = point;
        }
    }
    Size = kept;
}

void TPeakWindow::Clear()
{
    Head = Size = 0;
    Grain = 1;
    Sum = Peak = 0;
    PeakEnd = 0;
    LatestUs = INT64_MIN;
}

uint64_t TPeakWindow::BitsEndingAt(int64_t nowUs) const
{
    uint64_t sum = 0;
    for (size_t i = Size; i-- > 0;) {
        const TPoint& p = At(i);
        if (p.TimeUs <= nowUs - kUsPerSecond)
            break;
        if (p.TimeUs <= nowUs)
            sum += p.Bits;
    }
    return sum;
}

void TLoadProfile::Add(int64_t sinceStartUs, uint64_t bits)
{
    if (sinceStartUs < 0)
        sinceStartUs = 0;
    if (sinceStartUs >= CurrentFromUs && sinceStartUs <= CurrentToUs) {
        Bits[CurrentSlot] += bits;
        return;
    }
    size_t slot = static_cast<size_t>(sinceStartUs / SlotLengthUs);
    while (slot >= kMaxSlots) {
        // Fold pairs: slot 2k and 2k+1 become slot k of twice the length.
        for (size_t i = 0; i < Bits.size(); ++i)
            Bits[i / 2] = (i % 2 == 0 ? 0 : Bits[i / 2]) + Bits[i];
        Bits.resize((Bits.size() + 1) / 2);
        SlotLengthUs *= 2;
        slot = static_cast<size_t>(sinceStartUs / SlotLengthUs);
    }
    if (slot >= Bits.size())
        Bits.resize(slot + 1, 0);
    Bits[slot] += bits;
    CurrentSlot = slot;
    CurrentFromUs = static_cast<int64_t>(slot) * SlotLengthUs;
    CurrentToUs = CurrentFromUs + SlotLengthUs - 1;
}

void TLoadProfile::Clear()
{
    Bits.clear();
    SlotLengthUs = kUsPerSecond;
    CurrentSlot = 0;
    CurrentFromUs = 0;
    CurrentToUs = -1;
}
