#pragma once
#include <cstdint>
#include <string>
#include <vector>

class CAdapterCustom;

// One CAN bit rate the user may pick for a channel.
class TCanRateItem {
public:
    explicit TCanRateItem(uint32_t rate) : Rate(rate) {}

    // Display label: "250 Kbit/sec", "1 Mbit/sec". Rates that are not whole
    // thousands (or whole millions from one million up) fall back to a finer
    // unit so that the label always states the exact rate: 1500000 gives
    // "1500 Kbit/sec", 83333 gives "83333 bit/sec".
    void GetLabel(std::string& text) const;
    std::string GetLabel() const;

    const uint32_t Rate; // bit/s
};

// The ordered bit-rate choices of the channel rate boxes. Starts with the
// general table of fifteen rates; an adapter can replace it by its own.
class TCanRateList {
public:
    TCanRateList();

    // Appends a rate at the end, even when it is already listed.
    void AddRate(uint32_t rate);
    void Clear();
    int32_t Count() const { return static_cast<int32_t>(Items.size()); }
    // The item at `index`, or none when the index is out of range.
    const TCanRateItem* Item(int32_t index) const;

    // Appends every label in list order after what `strings` already holds.
    void FillStrings(std::vector<std::string>& strings) const;
    // Same; no effect without a target.
    void FillStrings(std::vector<std::string>* strings) const;

    // Position of the first item with that rate; -1 when none (always for a negative value).
    int32_t IndexOfRate(int32_t value) const;
    // Rate at `index`; 0 when the index is out of range.
    uint32_t RateAt(int32_t index) const;

    // Replaces the list by the adapter's supported rates, in the adapter's
    // order. An adapter that reports none (or no adapter) leaves the list as
    // it is. Reported values that are not positive are not rates and are
    // skipped; if nothing else is left the list stays as it is.
    void LoadFromAdapter(const CAdapterCustom* adapter);

private:
    std::vector<TCanRateItem> Items;
};
