#pragma once

#include "ostrelhost_global.h"

#include <QString>

#include <memory>
#include <vector>

class CPluginDLL;

// An ordered list of plug-ins, indexed from 0. Arrays share their plug-ins:
// an array filled from another keeps them alive while it exists, and
// destroying it never takes a module away from the array that loaded it.
class OSTRELHOST_EXPORT CPluginArray
{
public:
    CPluginArray();
    ~CPluginArray();
    CPluginArray(const CPluginArray &) = delete;
    CPluginArray &operator=(const CPluginArray &) = delete;

    void Add(std::shared_ptr<CPluginDLL> plugin);

    // Appends every plug-in of this array whose type code is type to target;
    // returns how many were added.
    int FillPluginArray(CPluginArray *target, int type) const;
    int GetPluginCount() const;
    // Null for every index outside 0 ... count-1.
    CPluginDLL *GetPluginAt(int index) const;

    // A publishing worker of the array: its file name and the service it
    // transfers over.
    struct PublishingWorker {
        QString fileName;
        int service = 0;
    };
    // The publishing workers, sorted by file name.
    std::vector<PublishingWorker> PublishingWorkers() const;

private:
    std::vector<std::shared_ptr<CPluginDLL>> m_plugins;
};
