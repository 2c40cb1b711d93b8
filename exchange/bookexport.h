#pragma once

class QSaveFile;

#include "foreignsite.h"

#include <QByteArray>
#include <QIODevice>
#include <QStringList>

#include <functional>
#include <memory>

class CServerBookStore;

// The store's current row as an entry with ordinal; every row in cursor
// order, one at a time as they are read or all at once. Throws StoreError.
BookEntry ReadCurrentEntry(CServerBookStore &store, int ordinal);
void ForEachEntry(CServerBookStore &store, const std::function<void(const BookEntry &)> &perEntry);
std::vector<BookEntry> ReadBook(CServerBookStore &store);

// Writes entries to out as they are added, in one of the formats the book
// is exported in, holding none of them: a book of any size takes the same
// memory. Lines is kelvo-book list's: ordinal, label, server, start
// directory, plug-in file, separated by tabs, one entry a line
// (EscapedForLine). FileZilla's format leaves some entries out (LeftOut).
class CFileZillaWriter;
class CBookWriter
{
public:
    enum class Format { Lines, Json, Csv, FileZilla };
    CBookWriter(Format format, QIODevice *out);
    ~CBookWriter();
    CBookWriter(const CBookWriter &) = delete;
    CBookWriter &operator=(const CBookWriter &) = delete;

    void Add(const BookEntry &entry);
    // Ends the document; false when out did not take all that was written.
    bool Finish();
    int LeftOut() const;
    // One line for each entry written otherwise than the book holds it.
    QStringList Notes() const;

private:
    static constexpr qsizetype kFlushBytes = 256 * 1024;
    void flush();

    Format m_format;
    QIODevice *m_out;
    std::unique_ptr<CFileZillaWriter> m_fileZilla;
    QByteArray m_buffer;
    int m_entries = 0;
    QStringList m_notes;
    bool m_ok = true;
};

// A text on one line of tab-separated output: backslash, tab, carriage
// return and line feed written as \\, \t, \r and \n; appended as UTF-8.
QString EscapedForLine(const QString &text);
void AppendEscapedForLine(QByteArray &out, const QString &text);

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
// export shows those in place of the bytes. One line per entry; empty for
// an entry without.
QString NoteIfNotReadable(const BookEntry &entry);
QStringList EntriesNotReadable(const std::vector<BookEntry> &entries);

// Opens file to replace its path whole: only a regular file is replaced (a
// device or a pipe there is left as it is, with the reason), and what is
// written gets no more permissions than book, the book it comes from.
bool OpenExportTarget(QSaveFile &file, const QString &book, QString *error);
// Writes content to path whole or not at all, opened as above: a file
// already there is replaced only by a complete one. False, with the
// system's reason (a full disk, a folder without write permission), when
// it could not.
bool SaveWhole(const QString &path, const QString &book, const QByteArray &content, QString *error);
