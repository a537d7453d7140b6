#include "adapter/AdapterFactory.h"

#include "adapter/AdapterSeeed.h"

CAdapterFactory::CAdapterFactory()
{
    Kinds.push_back(&CAdapterSeeed::Kind);
    Instances.resize(Kinds.size());
}

CAdapterFactory::~CAdapterFactory()
{
    for (auto& instance : Instances)
        instance.reset();
}

const TAdapterKind* CAdapterFactory::GetAdapterClass(int32_t index) const
{
    if (index < 0 || index >= GetCount())
        return nullptr;
    return Kinds[static_cast<size_t>(index)];
}

std::string CAdapterFactory::GetAdapterName(int32_t index) const
{
    const TAdapterKind* kind = GetAdapterClass(index);
    return kind ? kind->Name : "unknown";
}

void CAdapterFactory::FillNames(std::vector<std::string>& names) const
{
    for (int32_t i = 0; i < GetCount(); ++i)
        names.push_back(GetAdapterName(i));
}

CAdapterCustom* CAdapterFactory::GetAdapter(int32_t index)
{
    const TAdapterKind* kind = GetAdapterClass(index);
    if (!kind)
        return nullptr;
    auto& instance = Instances[static_cast<size_t>(index)];
    if (!instance)
        instance.reset(kind->Create());
    return instance.get();
}
