#pragma once

// Store files for tests: real SQLite files made through the store code, and a
// second connection that plays "another program" on the same file.

#include "cserverbookstore.h"

#include <QDir>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QtTest>

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
// store's back; removed again when it goes.
class OutsideConnection
{
public:
    explicit OutsideConnection(const QString &file)
        : m_name(QStringLiteral("outside-%1").arg(++counter()))
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(file);
        QVERIFY2(db.open(), qPrintable(db.lastError().text()));
    }
    ~OutsideConnection()
    {
        QSqlDatabase::database(m_name, false).close();
        QSqlDatabase::removeDatabase(m_name);
    }

    void exec(const QString &sql)
    {
        QSqlQuery q(QSqlDatabase::database(m_name, false));
        QVERIFY2(q.exec(sql), qPrintable(sql + ": " + q.lastError().text()));
    }

    QStringList column(const QString &sql)
    {
        QStringList values;
        QSqlQuery q(QSqlDatabase::database(m_name, false));
        if (!q.exec(sql))
            return {q.lastError().text()};
        while (q.next())
            values << q.value(0).toString();
        return values;
    }

private:
    static int &counter()
    {
        static int n = 0;
        return n;
    }
    QString m_name;
};
