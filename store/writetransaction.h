#pragma once

class BackupSession;
class BookFile;

// One change of the book, all or nothing. A book that may only be read is
// refused at once, before a backup is tried; otherwise the book is backed
// up before the first change of its opening, and BEGIN IMMEDIATE then takes
// the write lock at once, so that a check made inside still holds when the
// change commits. A file put at the path meanwhile is refused, so nothing
// goes into the one no longer there. Rolls back unless committed.
class WriteTransaction
{
public:
    WriteTransaction(const BookFile &book, BackupSession &backups);
    ~WriteTransaction();
    WriteTransaction(const WriteTransaction &) = delete;
    WriteTransaction &operator=(const WriteTransaction &) = delete;

    void Commit();
    // Throws the reason why a book that may only be read is not changed.
    static void RefuseIfReadOnly(const BookFile &book);

private:
    const BookFile &m_book;
    BackupSession &m_backups;
    bool m_committed = false;
};
