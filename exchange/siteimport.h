#pragma once

#include "foreignsite.h"

#include <QStringList>

#include <array>
#include <functional>
#include <optional>

#include <vector>

// A publishing worker an imported site may be given: its file and service.
// An import gives a site the first of them, in the order given, that serves
// its protocol.
struct WorkerInfo {
    QString fileName;
    int service = 0;
};

// One site of an import: the entry it becomes, or why it is skipped (then
// the entry holds only the site's label).
struct ImportItem {
    BookEntry entry;
    bool imported = false;
    QString reason;
    // The site's password: for the keyring when the user asks, never for
    // the book.
    QString password;
};

struct ImportPlan {
    std::vector<ImportItem> items;
    // Set when a file could not be read; then nothing is to be imported.
    QString error;
    int importedCount() const;
    // The rows to store: label, server, start directory, plug-in file.
    std::vector<std::array<QString, 4>> rows() const;
};

// The file of the first worker, in the order given, that serves service;
// empty when none does.
QString WorkerFor(int service, const std::vector<WorkerInfo> &workers);
// The service that transfers over an address's protocol, as an import gives
// it a worker: a local path is the file service; 0 when no service does.
int ServiceOfAddress(const QString &address);

// The entry a site becomes, with the first worker that serves its protocol
// (none with keepUnmatched, when no worker does), its user name in the
// address and never its password;
// none, with the reason, when it cannot become one.
std::optional<BookEntry> EntryOfSite(const ForeignSite &site, const std::vector<WorkerInfo> &workers,
                                     bool keepUnmatched, QString *reason);

// Reads sites from FileZilla, WinSCP and Cyberduck files, recognised by their
// content, and from folders of Cyberduck bookmarks. An error names the file
// and, where it can, the line. Only regular files are read, each once, and
// no more than kMostSites sites in all.
// progress hears, as a file is read, the bytes read of it and its size.
using ReadProgress = std::function<void(qint64 done, qint64 total)>;
ReadResult ReadSitesFrom(const QString &path, const ReadProgress &progress = {});
// The sites of every path, or the first error.
ReadResult ReadSites(const QStringList &paths, const ReadProgress &progress = {});

// What importing sites into a book holding book would do: each site becomes
// an entry with a worker that serves its protocol, or is skipped with its
// reason (no such worker unless keepUnmatched, a duplicate, a text too long,
// a protocol with no address). Passwords stay in the items, out of the rows.
ImportPlan PlanImport(std::vector<ForeignSite> sites, const std::vector<WorkerInfo> &workers,
                      const std::vector<BookEntry> &book, bool keepUnmatched);
// The same for the sites of paths, read first.
ImportPlan PlanImport(const QStringList &paths, const std::vector<WorkerInfo> &workers,
                      const std::vector<BookEntry> &book, bool keepUnmatched);
