#pragma once

#include "foreignsite.h"

#include <QByteArray>
#include <QStringList>

class CServerBookStore;

// The store's current row as an entry with ordinal; and every row in cursor
// order. Throws StoreError.
BookEntry ReadCurrentEntry(CServerBookStore &store, int ordinal);
std::vector<BookEntry> ReadBook(CServerBookStore &store);

// The book as a JSON array of objects with ordinal, label, server, startdir
// and pluginfile.
QByteArray BookToJson(const std::vector<BookEntry> &entries);
// The book as CSV with a header row, quoted as RFC 4180 says. A text that a
// spreadsheet would take for a formula (beginning with =, +, -, @, a tab or
// a carriage return) is quoted with a ' before it, so that it is shown and
// never run.
QByteArray BookToCsv(const std::vector<BookEntry> &entries);
// The entries whose texts hold characters that could not be read (U+FFFD:
// bytes in the book that are not UTF-8, such as Windows-1252 umlauts): every
// export shows those in place of the bytes. One line per entry.
QStringList EntriesNotReadable(const std::vector<BookEntry> &entries);

// Writes content to path whole or not at all: a file already there is
// replaced only by a complete one. False, with the system's reason (a full
// disk, a folder without write permission), when it could not.
bool SaveWhole(const QString &path, const QByteArray &content, QString *error);
