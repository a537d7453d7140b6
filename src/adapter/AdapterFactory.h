#pragma once
#include <memory>
#include <string>
#include <vector>

#include "adapter/AdapterCustom.h"

// The register of adapter kinds. It creates the one instance of a kind on the
// first request and owns it until the factory is destroyed.
class CAdapterFactory {
public:
    CAdapterFactory();
    // Frees the instances in kind order.
    ~CAdapterFactory();
    CAdapterFactory(const CAdapterFactory&) = delete;
    CAdapterFactory& operator=(const CAdapterFactory&) = delete;

    int32_t GetCount() const { return static_cast<int32_t>(Kinds.size()); }
    const TAdapterKind* GetAdapterClass(int32_t index) const;
    // The kind's name, or "unknown" for an index out of range.
    std::string GetAdapterName(int32_t index) const;
    // Appends every kind's name after what `names` already holds.
    void FillNames(std::vector<std::string>& names) const;
    CAdapterCustom* GetAdapter(int32_t index);

private:
    std::vector<const TAdapterKind*> Kinds;
    std::vector<std::unique_ptr<CAdapterCustom>> Instances;
};
