#pragma once

#include "storeerror.h"

#include <QString>

#include <optional>

class BookFile;
class SqliteConnection;

// The backups of one opening of a book: a copy before its first change, and
// none of its changes without one. When the copy fails, that change and
// every later one of the same opening are refused with the same reason. Old
// backups go only once a change has committed, and never the one just made
// nor one being restored from. A restore belongs here too: it backs up
// what it replaces, and spares the backup it reads.
class BackupSession
{
public:
    explicit BackupSession(const QString &bookFile) : m_bookFile(bookFile) {}

    // Before a change: the opening's backup, made now unless it was.
    void BeforeChange(const SqliteConnection &book);
    // A backup of its own now, even after other changes of this opening (a
    // restore, so that restoring that backup undoes exactly the restore).
    void BackUpNow(const SqliteConnection &book);
    // Replaces every row of book by the rows of backupFile, a backup of it,
    // in one transaction, with their rowids and the further columns the
    // backup has. Checks the backup whole first; backs up the state it
    // replaces, and keeps both.
    void Restore(const BookFile &book, const QString &backupFile);
    // After a commit: old backups go, once per opening.
    void AfterCommit();
    // The name of the backup this opening made; empty before its first change.
    QString Made() const { return m_made; }

private:
    QString m_bookFile;
    QString m_made;
    std::optional<StoreError> m_failure;
    QString m_restoredFrom;
    bool m_rotated = false;
};
