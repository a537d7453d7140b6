#pragma once
#include <memory>

#include "adapter/AdapterCustom.h"
#include "seeed/SeeedManager.h"

// The Seeed USB-CAN adapter: one channel, driven through its own manager.
// The channel argument is ignored; every index reaches the same objects.
class CAdapterSeeed : public CAdapterSerial {
public:
    CAdapterSeeed();
    explicit CAdapterSeeed(const TSeeedManagerOptions& options);
    // Stops and closes a channel still open, then frees the manager.
    ~CAdapterSeeed() override;

    static const TAdapterKind Kind;
    static CAdapterCustom* CreateInstance() { return new CAdapterSeeed(); }

    TCanSendList* GetSendList(int32_t channel) override;
    TLogger* GetLogger(int32_t channel) override;
    TCanSettings* GetSettings(int32_t channel) override;
    TTarvenixTraceList* GetTrace(int32_t channel) override;
    TTarvenixTable* GetTable(int32_t channel) override;
    TChannelStats* GetStats(int32_t channel) override;
    bool Open(int32_t channel) override;
    void Close(int32_t channel) override;
    bool IsOpen(int32_t channel) const override;
    void GetSupportedRates(std::vector<int32_t>& rates) const override;
    const TAdapterKind& GetKind() const override { return Kind; }
    std::string TakeLoadError() override { return Manager->TakeLoadError(); }
    std::string TakeLoadNotice() override { return Manager->TakeLoadNotice(); }
    std::string ChannelFailure(int32_t channel) const override;

    TSeeedManager& GetManager() { return *Manager; }
    const TSeeedManager& GetManager() const { return *Manager; }

private:
    std::unique_ptr<TSeeedManager> Manager;
};
