#pragma once

#include "sqlite.h"

#include <QString>

// The server book's file: an SQLite database with the table "Serverbook" and
// its four fields. Making a new one, opening an existing one with the checks
// that turn a wrong file into a clear reason, and what is known about the
// file while it is open: whether it may only be read, and whether another
// file was put at its path since.
class BookFile
{
public:
    static const char *const kTable;
    static const char *const kFields;

    // Creates an empty book, with its folder when missing. Refuses to touch
    // an existing file; leaves nothing behind when it fails.
    static void Create(const QString &file);

    // Gives a copy of the book (a backup, an export, their folder) no more
    // permissions than the book has: a private book stays private in its
    // copies. A folder may be searched where the book may be read. Only
    // ever takes permissions away, so a stricter umask stays.
    static void KeepAsPrivate(const QString &book, int fd);
    static void KeepFolderAsPrivate(const QString &book, const QString &folder);

    BookFile() = default;
    // Opens an existing book for reading and writing, or only for reading
    // where it cannot be changed. Never creates a file; a file without the
    // table or one of its four fields, or whose table cannot be listed (a
    // view, a table without rowids), is an error.
    explicit BookFile(const QString &file);

    bool IsOpen() const { return m_connection.IsOpen(); }
    QString File() const { return m_connection.File(); }
    const SqliteConnection &Connection() const { return m_connection; }
    // Why the book can only be read; empty when it can be changed.
    QString ReadOnlyReason() const { return m_readOnly; }
    // Whether the path now leads to another file than the one opened, or to none.
    bool Replaced() const;
    // Another connection to the same file, opened the same way, for a
    // reader that must not share this one.
    SqliteConnection OpenAnother() const;

private:
    SqliteConnection m_connection;
    SqliteConnection::Access m_access = SqliteConnection::Access::ReadWrite;
    QString m_readOnly;
    quint64 m_device = 0, m_inode = 0;
};
