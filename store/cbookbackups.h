#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

class SqliteConnection;

// The copies of a server book kept in DATA/backup beside it.
//
// A backup is made with SQLite's online backup API, so it is consistent even
// while other programs write. It is written under a temporary name, turned
// into a plain rollback-journal file, given a small table kelvo_backup that
// records when it was made (UTC) and its place in the order of making, read
// back and checked, and only then renamed to kelvo-YYYYMMDD-HHMMSSZ.mdb (UTC;
// -2, -3, … for a second one in the same second). A copy cut short never
// carries a backup's name, so it can neither count as one nor crowd one out.
//
// Backups are only ever opened read-only and immutable: listing, comparing or
// restoring never creates a file beside them.
//
// The rotation removes only backups that carry the kelvo_backup record of
// this very book (older ones name none and count as this book's), so
// files it did not make stay, even ones named like backups (older versions'
// kelvo-YYYYMMDD-HHMMSS.mdb in local time among them; they are listed and can
// be restored). It keeps the newest ten, the newest of each of the last seven
// days with backups, and the first of the current session and the newest of
// the one before (a session ends where no backup was made for 30 minutes),
// so that a burst of changes cannot push out the book as it was before it.
class CBookBackups
{
public:
    static constexpr int kNewestKept = 10;
    static constexpr int kDaysKept = 7;
    static constexpr int kSessionGapSeconds = 30 * 60;

    struct Backup {
        QString name;
        // When it was made, in UTC: from its record, or else from its name.
        QDateTime made;
        // Its place in the order of making, 0 without a record.
        qint64 sequence = 0;
        int entries = -1;
        // Why it cannot be restored; empty when it can.
        QString problem;
        // The book it is a backup of (BookIdentity); empty in older ones.
        QString book;
        // It carries the record, so this code made it.
        bool ours() const { return sequence > 0; }
        bool complete() const { return problem.isEmpty(); }
    };

    // What restoring a backup would do to the book as it is now, row by row
    // (a restore brings every row back with its rowid).
    struct Difference {
        int added = 0;    // rows the book no longer has
        int removed = 0;  // rows the backup does not have
        int changed = 0;  // rows whose four fields differ
        // "+2 / −1 / 3 geändert", or "keine Unterschiede".
        QString Summary() const;
        // The same in words, as a screen reader reads it and a question
        // says it: "2 kommen zurück, 1 geht, 3 geändert".
        QString InWords() const;
    };
    enum class Change { Added, Removed, Changed };

    explicit CBookBackups(const QString &storeFile);

    QString Folder() const { return m_folder; }
    // Copies the database behind source to a new, checked backup and returns
    // its name; removes nothing. Throws StoreError, leaving no file under a
    // backup's name, when it cannot.
    QString Make(const SqliteConnection &source) const;
    // Removes the backups the rule above does not keep, never one named in
    // spared, and what backups cut short left behind.
    void Rotate(const QStringList &spared) const;
    // Every file named like a backup, oldest first (by the order of making,
    // then by time), broken ones included.
    std::vector<Backup> List() const;
    // The path of the backup called name; empty when there is none of that
    // name (a name with a folder in it never is one).
    QString PathOf(const QString &name) const;
    // Reads the backup called name once more, with a full check of its pages;
    // problem says why it cannot be restored.
    Backup Inspect(const QString &name) const;
    // Compares the backup called name with the book; perRow, when given,
    // hears each differing row with its label (the backup's, or the book's
    // for a removed row). Throws StoreError when either cannot be read.
    Difference Compare(const QString &name,
                       const std::function<void(Change, const QString &label)> &perRow = {}) const;

    // The name a backup is written under before it is checked and renamed,
    // by the process writer of this machine's running system: a copy whose
    // writer is gone is removed at the next backup.
    static QString PartName(qint64 writer);
    // What a backup records of the book it was made of: its path, with
    // links resolved.
    static QString BookIdentity(const QString &storeFile);
    // Which of backups made at these times, in the order made, the rule
    // above keeps.
    static std::vector<bool> KeptByRule(const std::vector<QDateTime> &madeInOrder);

private:
    enum class Depth { Record, FullCheck };
    Backup inspect(const QString &name, Depth depth) const;
    void removeLeftovers() const;

    QString m_storeFile;
    QString m_folder;
};
