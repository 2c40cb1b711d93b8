#pragma once

#include "foreignsite.h"
#include "siteimport.h"

#include <QString>

#include <optional>
#include <vector>

// An entry carried between programs as one line of text, a link.

// The link of an entry: its server address, with the start directory as
// its path when the address has none of its own ("ftp://ftp.example.com/"
// and "/verein" give "ftp://ftp.example.com/verein/"); a local path as a
// file: URL. Empty for an address that is no link.
QString LinkOfEntry(const QString &server, const QString &startDir);

// The entry a link makes, for the user to confirm: the address with its
// user name and without its password (that goes to password), the start path from the link's path, the worker that
// serves its protocol (as an import chooses; none when no loaded worker
// does), and the host name as its label. A local path (or a file: URL) gets
// the local root as address and the path as start path. None, with the
// reason, for text that is no link.
std::optional<BookEntry> EntryOfLink(const QString &text, const std::vector<WorkerInfo> &workers, QString *reason,
                                     QString *password);
