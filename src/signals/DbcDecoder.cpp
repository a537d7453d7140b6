#include "signals/DbcDecoder.h"

#include <charconv>
#include <cstring>

namespace {

double FloatRaw(const TDbcSignal& signal, int64_t raw)
{
    if (signal.Type == TDbcValueType::Float32) {
        const auto bits = static_cast<uint32_t>(raw);
        float f = 0;
        std::memcpy(&f, &bits, sizeof f);
        return static_cast<double>(f);
    }
    double d = 0;
    std::memcpy(&d, &raw, sizeof d);
    return d;
}

double Physical(const TDbcSignal& signal, int64_t raw)
{
    if (signal.Type != TDbcValueType::Integer)
        return FloatRaw(signal, raw) * signal.Factor + signal.Offset;
    const double value = signal.Signed ? static_cast<double>(raw) : static_cast<double>(static_cast<uint64_t>(raw));
    return value * signal.Factor + signal.Offset;
}

} // namespace

TDbcFrameBits::TDbcFrameBits(const uint8_t* data, int length)
    : Bytes(length < 0 ? 0u : (length > 8 ? 8u : static_cast<uint32_t>(length)))
{
    uint8_t padded[8] = {};
    std::memcpy(padded, data, Bytes);
    for (int i = 7; i >= 0; --i)
        Le = (Le << 8) | padded[i];
    for (int i = 0; i < 8; ++i)
        Be = (Be << 8) | padded[i];
}

void TDbcFrameBits::Store(uint8_t* data) const
{
    for (int i = 0; i < 8; ++i)
        data[i] = static_cast<uint8_t>(Le >> (8 * i));
}

void DbcPutRaw(const TDbcSignal& signal, uint64_t raw, TDbcFrameBits& bits)
{
    const uint64_t mask = signal.Mask << signal.Shift;
    const uint64_t value = (raw & signal.Mask) << signal.Shift;
    if (signal.Order == TDbcByteOrder::Intel) {
        bits.Le = (bits.Le & ~mask) | value;
        bits.Be = __builtin_bswap64(bits.Le);
    } else {
        bits.Be = (bits.Be & ~mask) | value;
        bits.Le = __builtin_bswap64(bits.Be);
    }
}

TDbcPresence::TDbcPresence(const TDbcMessage& message, const TDbcFrameBits& bits)
    : Message(message), Bytes(bits.Bytes), Muxes(Inline)
{
    if (message.MuxOrder.size() > std::size(Inline)) {
        Many.resize(message.MuxOrder.size());
        Muxes = Many.data();
    }
    // Each multiplexor comes after the one selecting it, so one pass settles all.
    for (size_t slot = 0; slot < message.MuxOrder.size(); ++slot) {
        const TDbcSignal& m = message.Signals[static_cast<size_t>(message.MuxOrder[slot])];
        Muxes[slot].Present = Carries(m);
        if (Muxes[slot].Present)
            Muxes[slot].Value = static_cast<uint64_t>(DbcRawValue(m, bits.Le, bits.Be)) & m.Mask;
    }
}

bool TDbcPresence::Carries(const TDbcSignal& signal) const
{
    if (signal.BytesNeeded > Bytes)
        return false;
    if (!signal.IsMultiplexed)
        return true;
    if (signal.MuxParent < 0)
        return false;
    const int slot = Message.Signals[static_cast<size_t>(signal.MuxParent)].MuxSlot;
    return slot >= 0 && Muxes[slot].Present && signal.SelectedBy(Muxes[slot].Value);
}

uint64_t TDbcPresence::MuxValue(const TDbcSignal& multiplexor) const
{
    return multiplexor.MuxSlot >= 0 ? Muxes[multiplexor.MuxSlot].Value : 0;
}

size_t DecodeDbcFrame(const TDbcMessage& message, const uint8_t* data, int length, std::vector<TDbcDecoded>& out)
{
    const TDbcFrameBits bits(data, length);
    const TDbcPresence presence(message, bits);
    const size_t before = out.size();
    for (const TDbcSignal& signal : message.Signals) {
        if (!presence.Carries(signal))
            continue;
        out.push_back(DecodeDbcSignal(signal, bits));
    }
    return out.size() - before;
}

TDbcDecoded DecodeDbcSignal(const TDbcSignal& signal, const TDbcFrameBits& bits)
{
    TDbcDecoded d;
    d.Signal = &signal;
    d.Raw = DbcRawValue(signal, bits.Le, bits.Be);
    d.Value = Physical(signal, d.Raw);
    if (!signal.Values.empty())
        d.Text = signal.ValueText(d.Raw);
    return d;
}

std::string FormatDbcValue(const TDbcDecoded& d)
{
    const TDbcSignal& s = *d.Signal;
    if (s.Type != TDbcValueType::Integer) {
        if (s.ExactFactor.IsOne() && s.ExactOffset.IsZero())
            return s.Type == TDbcValueType::Float32 ? DbcFloatText(static_cast<float>(FloatRaw(s, d.Raw)))
                                                    : DbcDoubleText(FloatRaw(s, d.Raw));
        return DbcDoubleText(d.Value);
    }
    const TDbcInt128 raw = s.Signed ? TDbcInt128{d.Raw} : TDbcInt128{static_cast<uint64_t>(d.Raw)};
    if (s.ExactFactor.IsOne() && s.ExactOffset.IsZero()) {
        char buffer[24];
        const auto r = s.Signed ? std::to_chars(buffer, buffer + sizeof buffer, d.Raw)
                                : std::to_chars(buffer, buffer + sizeof buffer, static_cast<uint64_t>(d.Raw));
        return std::string(buffer, r.ptr);
    }
    std::string text = DbcExactValueText(raw, s.ExactFactor, s.ExactOffset);
    return text.empty() ? DbcDoubleText(d.Value) : text;
}

std::string FormatDbcSignal(const TDbcDecoded& d)
{
    const std::string value = FormatDbcValue(d);
    std::string line;
    line.reserve(d.Signal->Name.size() + value.size() + d.Signal->Unit.size() + (d.Text ? d.Text->size() : 0) + 8);
    AppendDbcPrintable(line, d.Signal->Name);
    line += " = ";
    line += value;
    if (!d.Signal->Unit.empty()) {
        line += ' ';
        AppendDbcPrintable(line, d.Signal->Unit);
    }
    if (d.Text) {
        line += " (";
        AppendDbcPrintable(line, *d.Text);
        line += ')';
    }
    return line;
}
