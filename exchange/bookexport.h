#pragma once

#include "foreignsite.h"

#include <QByteArray>

class CServerBookStore;

// The store's current row as an entry with ordinal; and every row in cursor
// order. Throws StoreError.
BookEntry ReadCurrentEntry(CServerBookStore &store, int ordinal);
std::vector<BookEntry> ReadBook(CServerBookStore &store);

// The book as a JSON array of objects with ordinal, label, server, startdir
// and pluginfile.
QByteArray BookToJson(const std::vector<BookEntry> &entries);
// The book as CSV with a header row, quoted as RFC 4180 says.
QByteArray BookToCsv(const std::vector<BookEntry> &entries);
