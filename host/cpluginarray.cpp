#include "cpluginarray.h"

#include "cplugindll.h"

#include <algorithm>

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

std::vector<CPluginArray::PublishingWorker> CPluginArray::PublishingWorkers() const
{
    std::vector<PublishingWorker> workers;
    for (const auto &plugin : m_plugins) {
        if (const auto *worker = dynamic_cast<const CPubWorkerPluginDLL *>(plugin.get()))
            workers.push_back({worker->GetPluginFileName(), worker->GetSupportedService()});
    }
    std::sort(workers.begin(), workers.end(),
              [](const PublishingWorker &a, const PublishingWorker &b) { return a.fileName < b.fileName; });
    return workers;
}
