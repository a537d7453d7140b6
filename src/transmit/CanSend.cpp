#include "transmit/CanSend.h"

#include <string_view>

#include "core/CanText.h"
#include "platform/Tick.h"

namespace {

// A hexadecimal number of at most 32 bits: digits only, either case, leading
// zeros allowed. Empty, malformed or too large gives -1; a value with the top
// bit set comes out negative.
int32_t ReadHex(std::string_view text)
{
    uint32_t value = 0;
    return ParseHexValue(text, value) ? static_cast<int32_t>(value) : -1;
}

// Takes the text before the next ';' off the front of `rest` (the ';' too);
// without a ';' the whole rest is the field.
std::string_view NextField(std::string_view& rest)
{
    const size_t pos = rest.find(';');
    if (pos == std::string_view::npos) {
        const std::string_view field = rest;
        rest = {};
        return field;
    }
    const std::string_view field = rest.substr(0, pos);
    rest.remove_prefix(pos + 1);
    return field;
}

} // namespace

TSendListRole SendListRole;

std::string TCanSendItem::GetTypeName() const
{
    switch (SendType) {
    case cstSingle:
        return "Single";
    case cstPeriodic:
        return "Periodic";
    case cstOnRequest:
        return "OnRequest";
    default:
        return "Unknown";
    }
}

void TCanSendItem::SetPeriod(int32_t value)
{
    Period = value <= 0 ? 1 : value;
}

void TCanSendItem::Send()
{
    if (!OnSend)
        return;
    const bool taken = OnSend(Frame);
    LastSendTime = tcm::TickCount();
    if (taken)
        IncCount();
}

void TCanSendItem::IncCount()
{
    // Wraps instead of overflowing after 2^31 sends.
    Count = static_cast<int32_t>(static_cast<uint32_t>(Count) + 1u);
    NotifyCount();
}

void TCanSendItem::ResetCount()
{
    Count = 0;
    NotifyCount();
}

void TCanSendItem::NotifyCount()
{
    if (OnCountChanged)
        OnCountChanged(Count, Tag);
}

std::string TCanSendItem::SaveToString() const
{
    std::string out;
    out.reserve(40 + Caption.size());
    AppendHex(out, static_cast<uint32_t>(SendType), 0);
    out += ';';
    AppendHex(out, static_cast<uint32_t>(Period), 0);
    out += ';';
    out += Active ? '1' : '0';
    out += ';';
    AppendHex(out, Frame.Id, 0);
    out += ';';
    out += Frame.Request ? '1' : '0';
    out += ';';
    AppendHex(out, static_cast<uint32_t>(Frame.Length), 0);
    out += ';';
    AppendDataBytes(out, Frame.Data, CanDataBytes(Frame.Length), '\0');
    out += ';';
    out += Caption;
    out += ';';
    return out;
}

bool TCanSendItem::LoadFromString(const std::string& text)
{
    std::string_view rest(text);

    const int32_t type = ReadHex(NextField(rest));
    if (type != cstSingle && type != cstPeriodic && type != cstOnRequest)
        return false;
    SendType = type;

    const int32_t period = ReadHex(NextField(rest));
    if (period < 0)
        return false;
    Period = period;

    Active = ReadHex(NextField(rest)) == 1;

    const int32_t id = ReadHex(NextField(rest));
    if (id < 0)
        return false;
    Frame.Id = static_cast<uint32_t>(id);

    Frame.Request = ReadHex(NextField(rest)) == 1;

    const int32_t length = ReadHex(NextField(rest));
    if (length < 0 || length > 8)
        return false;
    Frame.Length = length;

    // All eight bytes are written: pairs as far as the field goes, then zeros.
    std::string_view data = NextField(rest);
    for (uint8_t& byte : Frame.Data) {
        if (data.size() >= 2) {
            const int32_t value = ReadHex(data.substr(0, 2));
            byte = value < 0 ? 0 : static_cast<uint8_t>(value);
            data.remove_prefix(2);
        } else {
            byte = 0;
        }
    }

    Caption = std::string(NextField(rest));
    return true;
}
