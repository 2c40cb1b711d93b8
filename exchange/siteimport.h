#pragma once

#include "foreignsite.h"

#include <QStringList>

// A publishing worker an imported site may be given: its file and service.
// An import gives a site the first of them, in the order given, that serves
// its protocol.
struct WorkerInfo {
    QString fileName;
    int service = 0;
};

// One site of an import: the entry it becomes, or why it is skipped.
struct ImportItem {
    ForeignSite site;
    BookEntry entry;
    bool imported = false;
    QString reason;
};

struct ImportPlan {
    std::vector<ImportItem> items;
    // Set when a file could not be read; then nothing is to be imported.
    QString error;
    int importedCount() const;
};

// Reads sites from FileZilla, WinSCP and Cyberduck files, recognised by their
// content, and from folders of Cyberduck bookmarks. An error names the file
// and, where it can, the line.
ReadResult ReadSitesFrom(const QString &path);

// What importing the sites of paths into a book holding book would do: each
// site becomes an entry with a worker that serves its protocol, or is skipped
// with its reason (no such worker unless keepUnmatched, a duplicate, a text
// too long, a protocol with no address). Credentials are never imported.
ImportPlan PlanImport(const QStringList &paths, const std::vector<WorkerInfo> &workers,
                      const std::vector<BookEntry> &book, bool keepUnmatched);
