#include "cpluginarray.h"

#include "cplugindll.h"

CPluginArray::CPluginArray() = default;
CPluginArray::~CPluginArray() = default;

void CPluginArray::Add(std::shared_ptr<CPluginDLL> plugin)
{
    m_plugins.push_back(std::move(plugin));
}

int CPluginArray::FillPluginArray(CPluginArray *target, int type) const
{
    if (!target || target == this)
        return 0;
    int added = 0;
    for (const auto &plugin : m_plugins) {
        if (plugin->GetPluginType(nullptr) == type) {
            target->Add(plugin);
            ++added;
        }
    }
    return added;
}

int CPluginArray::GetPluginCount() const
{
    return int(m_plugins.size());
}

CPluginDLL *CPluginArray::GetPluginAt(int index) const
{
    if (index < 0 || index >= GetPluginCount())
        return nullptr;
    return m_plugins[size_t(index)].get();
}
