#pragma once

// Store files for tests: real SQLite files made through the store code, and a
// second connection that plays "another program" on the same file.

#include "cserverbookstore.h"

#include "sqlite.h"
#include "storeerror.h"

#include <QDir>
#include <QStringList>
#include <QtTest>

#include <sys/mount.h>
#include <unistd.h>

struct Row {
    QString label, server, startDir, pluginFile;
};

// Creates DATA/kelvo.mdb under pluginDir holding rows, in rowid order. The
// backup that filling it makes is removed: tests start without backups.
inline QString createStore(const QString &pluginDir, const QList<Row> &rows = {})
{
    const QString file = CServerBookStore::FileIn(pluginDir);
    CServerBookStore::Create(file);
    {
        CServerBookStore store;
        store.Open(file);
        for (const Row &row : rows)
            store.Append(row.label, row.server, row.startDir, row.pluginFile);
    }
    QDir(pluginDir + QStringLiteral("/DATA/backup")).removeRecursively();
    return file;
}

// Another program's connection to the same file, for changes behind the
// store's back; made when the file is missing, as the sqlite3 shell does.
class OutsideConnection
{
public:
    explicit OutsideConnection(const QString &file) : m_db(file, SqliteConnection::Access::Create) {}

    void exec(const QString &sql)
    {
        try {
            m_db.Exec(sql.toUtf8().constData());
        } catch (const StoreError &error) {
            QFAIL(qPrintable(sql + ": " + error.message()));
        }
    }

    // The first column of every row, as text; the error's text when it fails.
    QStringList column(const QString &sql)
    {
        QStringList values;
        try {
            SqliteStatement statement = m_db.Prepare(sql.toUtf8());
            while (statement.Step())
                values << statement.Text(0);
        } catch (const StoreError &error) {
            return {error.message()};
        }
        return values;
    }

private:
    SqliteConnection m_db;
};

// A book's folder that a test makes read-only. Root writes wherever the
// permissions say no, so as root the folder gets a small file system of its
// own that is then mounted read-only; a normal user's book file loses its
// write permission instead. Either way the store must find the book
// read-only and refuse every change with the reason.
class ReadOnlyBookFolder
{
public:
    explicit ReadOnlyBookFolder(const QString &folder) : m_folder(folder), m_at(QFile::encodeName(folder))
    {
        QDir().mkpath(folder);
        m_mounted = geteuid() == 0 && mount("tmpfs", m_at.constData(), "tmpfs", 0, "size=4m") == 0;
    }
    ~ReadOnlyBookFolder()
    {
        if (m_mounted)
            umount(m_at.constData());
    }
    // False where a root test cannot mount.
    bool usable() const { return geteuid() != 0 || m_mounted; }
    bool makeReadOnly(const QString &book)
    {
        if (m_mounted)
            return mount("tmpfs", m_at.constData(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=4m") == 0;
        return QFile::setPermissions(book, QFile::ReadOwner | QFile::ReadGroup);
    }

private:
    QString m_folder;
    QByteArray m_at;
    bool m_mounted = false;
};
