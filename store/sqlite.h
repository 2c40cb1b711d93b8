#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>

struct sqlite3;
struct sqlite3_stmt;

// The one way this code talks to SQLite: a connection and a statement that
// own their engine handles, and turn every engine failure into a StoreError
// naming the file and what went wrong in words a user can act on.

class SqliteStatement
{
public:
    SqliteStatement() = default;
    SqliteStatement(SqliteStatement &&other) noexcept;
    SqliteStatement &operator=(SqliteStatement &&other) noexcept;
    SqliteStatement(const SqliteStatement &) = delete;
    SqliteStatement &operator=(const SqliteStatement &) = delete;
    ~SqliteStatement();

    explicit operator bool() const { return m_statement != nullptr; }

    // Steps once: true with a row to read, false when done.
    bool Step();
    // Steps to the end of a statement that returns no rows.
    void Run();
    // Ready to run again; bindings stay.
    void Reset();

    // Parameters count from 1.
    void Bind(int index, qint64 value);
    // A null text binds NULL, as a text that was never given.
    void Bind(int index, const QString &text);
    void BindUtf8(int index, QByteArrayView utf8);

    // Columns count from 0.
    int ColumnCount() const;
    QString ColumnName(int column) const;
    qint64 Int64(int column) const;
    // The text as stored, decoded from UTF-8 as Qt decodes it.
    QString Text(int column) const;
    // The text's bytes as stored; valid until the next step or reset.
    QByteArrayView Bytes(int column) const;

    sqlite3_stmt *Handle() const { return m_statement; }

private:
    friend class SqliteConnection;
    SqliteStatement(sqlite3_stmt *statement, const class SqliteConnection *connection);
    [[noreturn]] void fail(int code) const;

    sqlite3_stmt *m_statement = nullptr;
    const SqliteConnection *m_connection = nullptr;
};

class SqliteConnection
{
public:
    enum class Access {
        ReadWrite,  // an existing file, read and written
        ReadOnly,   // an existing file, only read
        Immutable,  // an existing file that nothing changes while it is open: no lock, no log
        Create,     // read and written, made when missing
    };

    SqliteConnection() = default;
    // Opens file, waiting a little for another program's lock; throws
    // StoreError naming the file, or naming it as a backup.
    SqliteConnection(const QString &file, Access access, bool isBackup = false);
    SqliteConnection(SqliteConnection &&other) noexcept;
    SqliteConnection &operator=(SqliteConnection &&other) noexcept;
    SqliteConnection(const SqliteConnection &) = delete;
    SqliteConnection &operator=(const SqliteConnection &) = delete;
    // Closes the connection; statements must be gone before.
    ~SqliteConnection();

    bool IsOpen() const { return m_db != nullptr; }
    QString File() const { return m_file; }

    SqliteStatement Prepare(QByteArrayView sql) const;
    // Runs statements that return no rows.
    void Exec(const char *sql) const;
    // The same, ignoring a failure: for a ROLLBACK on the way out.
    void ExecQuietly(const char *sql) const noexcept;
    // The first column of a statement's first row.
    qint64 Int64Of(const char *sql) const;
    qint64 LastInsertRowId() const;
    int Changes() const;
    // SQLite's data_version: another connection's commit changes it.
    qint64 DataVersion() const;

    // The address that opens path as SQLite understands it with access.
    static QByteArray UriOf(const QString &path, Access access);
    // The engine's handle, for its backup API.
    sqlite3 *Handle() const { return m_db; }
    // The engine's last failure, explained; thrown as the file's error.
    [[noreturn]] void Fail(int code) const;
    QString MessageOf(int code) const;
    // What the engine said of its last failure, unexplained.
    QString EngineText() const;

private:
    sqlite3 *m_db = nullptr;
    QString m_file;
    bool m_isBackup = false;
};
