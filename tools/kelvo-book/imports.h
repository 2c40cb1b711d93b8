#pragma once

#include <QStringList>

#include <vector>

class CServerBookStore;
struct WorkerInfo;

struct ImportOptions {
    bool dryRun = false;
    bool keepUnmatched = false;
    bool passwords = false;
    bool json = false;
};

// import: reads the site lists, plans and stores their sites in one
// transaction (none with dryRun), writes each site's outcome as a line or
// as JSON, and keeps or counts the passwords the lists held.
int ImportSites(CServerBookStore &store, const std::vector<WorkerInfo> &workers, const QStringList &paths,
                const ImportOptions &options);
