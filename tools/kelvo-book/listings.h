#pragma once

#include <QString>

class CServerBookStore;

// The commands that write entries out: to standard output as they are
// read, or to a file whole or not at all.

// list: every entry, one a line or as JSON.
int ListEntries(CServerBookStore &store, bool json);
// find TEXT: the entries whose label, address or start directory contain
// text, case and accents aside; 1 when none does, as grep.
int FindEntries(CServerBookStore &store, const QString &text, bool json);
// export --format filezilla|json|csv [FILE]: the book for another program;
// says on standard error what the format left out.
int ExportBook(CServerBookStore &store, const QString &format, const QString &target);
