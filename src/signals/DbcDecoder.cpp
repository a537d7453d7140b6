#include "signals/DbcDecoder.h"

#include <charconv>
#include <cstring>

namespace {

double Physical(const TDbcSignal& signal, int64_t raw)
{
    switch (signal.Type) {
    case TDbcValueType::Float32: {
        const auto bits = static_cast<uint32_t>(raw);
        float f = 0;
        std::memcpy(&f, &bits, sizeof f);
        return static_cast<double>(f) * signal.Factor + signal.Offset;
    }
    case TDbcValueType::Float64: {
        double d = 0;
        std::memcpy(&d, &raw, sizeof d);
        return d * signal.Factor + signal.Offset;
    }
    case TDbcValueType::Integer:
        break;
    }
    const double value = signal.Signed ? static_cast<double>(raw) : static_cast<double>(static_cast<uint64_t>(raw));
    return value * signal.Factor + signal.Offset;
}

} // namespace

size_t DecodeDbcFrame(const TDbcMessage& message, const uint8_t* data, int length, std::vector<TDbcDecoded>& out)
{
    const uint32_t bytes = length < 0 ? 0u : (length > 8 ? 8u : static_cast<uint32_t>(length));
    uint8_t padded[8] = {};
    std::memcpy(padded, data, bytes);
    uint64_t le = 0;
    uint64_t be = 0;
    for (int i = 7; i >= 0; --i)
        le = (le << 8) | padded[i];
    for (int i = 0; i < 8; ++i)
        be = (be << 8) | padded[i];

    bool haveMux = false;
    uint64_t mux = 0;
    if (message.Multiplexor >= 0) {
        const TDbcSignal& m = message.Signals[static_cast<size_t>(message.Multiplexor)];
        if (m.BytesNeeded <= bytes) {
            haveMux = true;
            mux = static_cast<uint64_t>(DbcRawValue(m, le, be));
        }
    }
    const size_t before = out.size();
    for (const TDbcSignal& signal : message.Signals) {
        if (signal.BytesNeeded > bytes)
            continue;
        if (signal.Mux == TDbcMuxRole::Multiplexed && (!haveMux || signal.MuxValue != mux))
            continue;
        TDbcDecoded d;
        d.Signal = &signal;
        d.Raw = DbcRawValue(signal, le, be);
        d.Value = Physical(signal, d.Raw);
        if (!signal.Values.empty())
            d.Text = signal.ValueText(d.Raw);
        out.push_back(d);
    }
    return out.size() - before;
}

std::string FormatDbcValue(const TDbcDecoded& d)
{
    // to_chars with a precision writes what printf's %.15g writes, without
    // printf's format parsing and locale.
    char buffer[40];
    const TDbcSignal& s = *d.Signal;
    std::to_chars_result r{};
    if (s.Type == TDbcValueType::Integer && s.Factor == 1 && s.Offset == 0) {
        if (s.Signed)
            r = std::to_chars(buffer, buffer + sizeof buffer, d.Raw);
        else
            r = std::to_chars(buffer, buffer + sizeof buffer, static_cast<uint64_t>(d.Raw));
    } else {
        r = std::to_chars(buffer, buffer + sizeof buffer, d.Value, std::chars_format::general, 15);
    }
    return std::string(buffer, r.ptr);
}

std::string FormatDbcSignal(const TDbcDecoded& d)
{
    const std::string value = FormatDbcValue(d);
    std::string line;
    line.reserve(d.Signal->Name.size() + value.size() + d.Signal->Unit.size() + (d.Text ? d.Text->size() : 0) + 8);
    line += d.Signal->Name;
    line += " = ";
    line += value;
    if (!d.Signal->Unit.empty()) {
        line += ' ';
        line += d.Signal->Unit;
    }
    if (d.Text) {
        line += " (";
        line += *d.Text;
        line += ')';
    }
    return line;
}
