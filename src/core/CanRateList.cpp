#include "core/CanRateList.h"

#include "adapter/AdapterCustom.h"

namespace {

constexpr uint32_t kGeneralRates[] = {
    5000, 10000, 20000, 40000, 50000, 80000, 100000, 125000, 200000, 250000, 400000, 500000, 666000, 800000, 1000000,
};

} // namespace

void TCanRateItem::GetLabel(std::string& text) const
{
    if (Rate >= 1000000 && Rate % 1000000 == 0)
        text = std::to_string(Rate / 1000000) + " Mbit/sec";
    else if (Rate >= 1000 && Rate % 1000 == 0)
        text = std::to_string(Rate / 1000) + " Kbit/sec";
    else
        text = std::to_string(Rate) + " bit/sec";
}

std::string TCanRateItem::GetLabel() const
{
    std::string text;
    GetLabel(text);
    return text;
}

TCanRateList::TCanRateList()
{
    for (uint32_t rate : kGeneralRates)
        AddRate(rate);
}

void TCanRateList::AddRate(uint32_t rate)
{
    Items.emplace_back(rate);
}

void TCanRateList::Clear()
{
    Items.clear();
}

const TCanRateItem* TCanRateList::Item(int32_t index) const
{
    if (index < 0 || index >= Count())
        return nullptr;
    return &Items[static_cast<size_t>(index)];
}

void TCanRateList::FillStrings(std::vector<std::string>& strings) const
{
    strings.reserve(strings.size() + Items.size());
    for (const TCanRateItem& item : Items)
        strings.push_back(item.GetLabel());
}

void TCanRateList::FillStrings(std::vector<std::string>* strings) const
{
    if (strings)
        FillStrings(*strings);
}

int32_t TCanRateList::IndexOfRate(int32_t value) const
{
    if (value < 0)
        return -1;
    for (size_t i = 0; i < Items.size(); ++i)
        if (Items[i].Rate == static_cast<uint32_t>(value))
            return static_cast<int32_t>(i);
    return -1;
}

uint32_t TCanRateList::RateAt(int32_t index) const
{
    const TCanRateItem* item = Item(index);
    return item ? item->Rate : 0;
}

void TCanRateList::LoadFromAdapter(const CAdapterCustom* adapter)
{
    if (!adapter)
        return;
    std::vector<int32_t> rates;
    adapter->GetSupportedRates(rates);
    std::vector<uint32_t> valid;
    for (int32_t rate : rates)
        if (rate > 0)
            valid.push_back(static_cast<uint32_t>(rate));
    if (valid.empty())
        return;
    Items.clear();
    for (uint32_t rate : valid)
        AddRate(rate);
}
