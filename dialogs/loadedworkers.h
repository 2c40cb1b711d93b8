#pragma once

#include "cpluginhost.h"
#include "siteimport.h"

#include <vector>

// The loaded publishing workers, in the host's order, for an import or a
// pasted link to choose from.
inline std::vector<WorkerInfo> LoadedWorkers()
{
    std::vector<WorkerInfo> workers;
    if (CPluginArray *plugins = GetCurrentPluginArray()) {
        for (const auto &worker : plugins->PublishingWorkers())
            workers.push_back({worker.fileName, worker.service});
    }
    return workers;
}
