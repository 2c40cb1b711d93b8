#pragma once

#include <QDateTime>
#include <QString>

#include <vector>

struct sqlite3;

// The copies of a server book kept in DATA/backup beside it, named
// kelvo-YYYYMMDD-HHMMSS.mdb (with -2, -3, … when a second one is made in the
// same second). Making one copies the open database with SQLite's online
// backup API, so the copy is consistent even while other programs write;
// then only the newest ten are kept. Files of other names are left alone.
class CBookBackups
{
public:
    static constexpr int kKept = 10;

    struct Backup {
        QString name;
        QDateTime time;
    };

    explicit CBookBackups(const QString &storeFile);

    QString Folder() const { return m_folder; }
    // Copies the database behind source to a new backup and drops the oldest
    // beyond ten; returns the new file's name. Throws StoreError, leaving no
    // partial copy, when it cannot.
    QString Make(sqlite3 *source) const;
    // The backups, oldest first.
    std::vector<Backup> List() const;
    // How many entries the backup called name holds; -1 when it cannot be read.
    int EntriesIn(const QString &name) const;
    // The path of the backup called name; empty when there is none of that
    // name (a name with a folder in it never is one).
    QString PathOf(const QString &name) const;

private:
    QString m_storeFile;
    QString m_folder;
};
