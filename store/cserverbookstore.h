#pragma once

#include <QSqlDatabase>
#include <QSqlRecord>
#include <QString>

#include <vector>

class QSqlQuery;
struct sqlite3;

// The server book: the table "Serverbook" of an SQLite file, read and changed
// through a cursor over its rows in rowid order.
//
// A row is addressed by its ordinal, its 0-based position in that order. The
// ordinals handed out by the last ListAll keep naming the rows they were
// handed out for, even when another program adds or deletes rows meanwhile:
// positioning at an ordinal reaches that row, or no row if it is gone, never
// a neighbour.
//
// Every engine failure throws StoreError.
class CServerBookStore
{
public:
    struct ListedEntry {
        QString label;
        int ordinal;
    };

    CServerBookStore();
    ~CServerBookStore();
    CServerBookStore(const CServerBookStore &) = delete;
    CServerBookStore &operator=(const CServerBookStore &) = delete;

    // Where the store lives in a plug-in directory.
    static QString FileIn(const QString &pluginDir);
    // Creates an empty store file, with its folder when missing. Refuses to
    // touch an existing file; leaves nothing behind when it fails.
    static void Create(const QString &file);

    // Opens an existing store shared, for reading and writing. Never creates a
    // file; a file without the table or one of its four fields is an error.
    void Open(const QString &file);
    // Closes the cursor and the database and drops the connection.
    void Close();
    bool IsOpen() const { return !m_connection.isEmpty(); }

    bool IsBOF();
    bool IsEOF();
    void MoveFirst();
    void MoveNext();
    void Move(int rows);
    // The named field of the current row; a field without a value reads empty.
    QString GetFieldText(const QString &field);
    // Stores a new row with the four texts, all or nothing.
    void Append(const QString &label, const QString &server, const QString &startDir,
                const QString &pluginFile);
    // Deletes the current row; does nothing when it is already gone.
    void DeleteCurrent();

    // Makes the row of ordinal current. False when there is no such row
    // (an empty table, an ordinal past the end, a row deleted meanwhile).
    bool PositionAt(int ordinal);
    // Every row's label with its ordinal, in cursor order; leaves the cursor
    // after the last row.
    std::vector<ListedEntry> ListAll();

private:
    QSqlQuery query(const QString &sql);
    void exec(QSqlQuery &query);
    [[noreturn]] void fail(const QSqlQuery &query) const;
    void ensureRows();
    bool loadCurrentRow();
    sqlite3 *sqliteHandle() const;

    QString m_file;
    QString m_connection;
    QSqlDatabase m_db;
    // Rowids in cursor order, as of the last listing or first move; an ordinal
    // indexes this, so it stays with its row.
    std::vector<qint64> m_rowids;
    bool m_haveRows = false;
    // -1 before the first row, m_rowids.size() after the last.
    qsizetype m_pos = 0;
    QSqlRecord m_row;
    bool m_rowLoaded = false;
};
