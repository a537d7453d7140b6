#include "plot/PlotSource.h"

#include <cstdio>

TPlotSource::TPlotSource(std::shared_ptr<const TDbcMessage> message, size_t index, bool raw)
    : Message(std::move(message)), SignalIndex(index), Raw(raw)
{
}

TPlotSource::TPlotSource(const TDbcMessage& message, size_t signalIndex)
    : TPlotSource(std::make_shared<const TDbcMessage>(message), signalIndex, false)
{
}

std::optional<TPlotSource> TPlotSource::RawField(uint32_t id, bool extended, uint32_t startBit, uint32_t length,
                                                 TDbcByteOrder order, bool isSigned, std::string& error)
{
    TDbcMessage message;
    message.Id = id;
    message.Extended = extended;
    TDbcSignal signal;
    signal.StartBit = startBit;
    signal.Length = length;
    signal.Order = order;
    signal.Signed = isSigned;
    if (!LayOutSignal(signal, error))
        return std::nullopt;
    char name[96];
    const char* idFormat = extended ? "0x%08X" : "0x%03X";
    char idText[16];
    std::snprintf(idText, sizeof idText, idFormat, id);
    // A whole byte reads as "byte N"; any other range names its bits as the
    // database counts them, with the order and sign.
    const bool wholeByte =
        length == 8 && !isSigned && (order == TDbcByteOrder::Intel ? startBit % 8 == 0 : startBit % 8 == 7);
    if (wholeByte)
        std::snprintf(name, sizeof name, "%s byte %u", idText, startBit / 8);
    else
        std::snprintf(name, sizeof name, "%s bits %u|%u@%c%c", idText, startBit, length,
                      order == TDbcByteOrder::Intel ? '1' : '0', isSigned ? '-' : '+');
    signal.Name = name;
    message.Name = idText;
    message.AddSignal(std::move(signal));
    message.Size = 8;
    return TPlotSource(std::make_shared<const TDbcMessage>(std::move(message)), 0, true);
}

std::string TPlotSource::Name() const
{
    return Raw ? Signal().Name : Message->Name + "." + Signal().Name;
}

bool TPlotSource::Steps() const
{
    const TDbcSignal& s = Signal();
    if (!s.Values.empty() || s.Length == 1)
        return true;
    // Integer values only when the factor and offset are whole numbers.
    return s.Type == TDbcValueType::Integer && s.ExactFactor.Valid && s.ExactFactor.Exponent >= 0 &&
           s.ExactOffset.Valid && s.ExactOffset.Exponent >= 0;
}

bool TPlotSource::Decode(uint32_t id, bool extended, const uint8_t* data, int length, TDbcDecoded& out) const
{
    if (id != Message->Id || extended != Message->Extended)
        return false;
    const TDbcFrameBits bits(data, length);
    const TDbcSignal& signal = Signal();
    if (!TDbcPresence(*Message, bits).Carries(signal))
        return false;
    out = DecodeDbcSignal(signal, bits);
    return true;
}

bool FindPlotSources(const TDbcDatabase& db, const std::vector<std::string>& names, std::vector<TPlotSource>& out,
                     std::string& error)
{
    for (const std::string& name : names) {
        const size_t dot = name.find('.');
        const std::string messageName = dot == std::string::npos ? std::string() : name.substr(0, dot);
        const std::string signalName = dot == std::string::npos ? name : name.substr(dot + 1);
        bool found = false;
        for (const TDbcMessage& message : db.Messages) {
            if (!messageName.empty() && message.Name != messageName)
                continue;
            const int index = message.SignalIndex(signalName);
            if (index < 0)
                continue;
            out.emplace_back(message, static_cast<size_t>(index));
            found = true;
        }
        if (!found) {
            error = "no signal " + DbcPrintable(name) + " in the database";
            return false;
        }
    }
    return true;
}

std::string TPlotSource::Key() const
{
    if (!Raw)
        return "signal:" + Message->Name + "." + Signal().Name;
    const TDbcSignal& s = Signal();
    char text[80];
    std::snprintf(text, sizeof text, "raw:%X:%d:%u:%u:%c:%c", Message->Id, Message->Extended ? 1 : 0, s.StartBit,
                  s.Length, s.Order == TDbcByteOrder::Intel ? 'I' : 'M', s.Signed ? '-' : '+');
    return text;
}

std::optional<TPlotSource> TPlotSource::FromKey(const std::string& key, const TDbcDatabase* db)
{
    if (key.rfind("signal:", 0) == 0) {
        std::vector<TPlotSource> found;
        std::string error;
        if (!db || !FindPlotSources(*db, {key.substr(7)}, found, error) || found.empty())
            return std::nullopt;
        return found.front();
    }
    unsigned id = 0, start = 0, length = 0;
    int extended = 0;
    char order = 0, sign = 0;
    char end = 0;
    if (std::sscanf(key.c_str(), "raw:%X:%d:%u:%u:%c:%c%c", &id, &extended, &start, &length, &order, &sign, &end) !=
            6 ||
        (order != 'I' && order != 'M') || (sign != '+' && sign != '-'))
        return std::nullopt;
    std::string error;
    return RawField(id, extended != 0, start, length, order == 'I' ? TDbcByteOrder::Intel : TDbcByteOrder::Motorola,
                    sign == '-', error);
}
