#include "sqlite.h"

#include "storeerror.h"

#include <QFileInfo>
#include <QUrl>

#include <sqlite3.h>

#include <utility>

namespace {

// Long enough to ride out another program's short write, short enough that a
// modal dialog does not seem frozen on a database that stays locked.
constexpr int kBusyTimeoutMs = 2000;

} // namespace

SqliteStatement::SqliteStatement(sqlite3_stmt *statement, const SqliteConnection *connection)
    : m_statement(statement), m_connection(connection)
{
}

SqliteStatement::SqliteStatement(SqliteStatement &&other) noexcept
    : m_statement(std::exchange(other.m_statement, nullptr)), m_connection(other.m_connection)
{
}

SqliteStatement &SqliteStatement::operator=(SqliteStatement &&other) noexcept
{
    if (this != &other) {
        sqlite3_finalize(m_statement);
        m_statement = std::exchange(other.m_statement, nullptr);
        m_connection = other.m_connection;
    }
    return *this;
}

SqliteStatement::~SqliteStatement()
{
    sqlite3_finalize(m_statement);
}

void SqliteStatement::fail(int code) const
{
    m_connection->Fail(code);
}

bool SqliteStatement::Step()
{
    const int step = sqlite3_step(m_statement);
    if (step == SQLITE_ROW)
        return true;
    if (step != SQLITE_DONE)
        fail(step);
    return false;
}

void SqliteStatement::Run()
{
    while (Step()) {
    }
}

void SqliteStatement::Reset()
{
    sqlite3_reset(m_statement);
}

void SqliteStatement::Bind(int index, qint64 value)
{
    sqlite3_bind_int64(m_statement, index, value);
}

void SqliteStatement::Bind(int index, const QString &text)
{
    if (text.isNull())
        sqlite3_bind_null(m_statement, index);
    else
        sqlite3_bind_text16(m_statement, index, text.utf16(), int(text.size() * 2), SQLITE_TRANSIENT);
}

void SqliteStatement::BindUtf8(int index, QByteArrayView utf8)
{
    sqlite3_bind_text(m_statement, index, utf8.data(), int(utf8.size()), SQLITE_TRANSIENT);
}

int SqliteStatement::ColumnCount() const
{
    return sqlite3_column_count(m_statement);
}

QString SqliteStatement::ColumnName(int column) const
{
    return QString::fromUtf8(sqlite3_column_name(m_statement, column));
}

qint64 SqliteStatement::Int64(int column) const
{
    return sqlite3_column_int64(m_statement, column);
}

QString SqliteStatement::Text(int column) const
{
    return QString::fromUtf8(Bytes(column));
}

QByteArrayView SqliteStatement::Bytes(int column) const
{
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(m_statement, column));
    return QByteArrayView(text, sqlite3_column_bytes(m_statement, column));
}

QByteArray SqliteConnection::UriOf(const QString &path, Access access)
{
    QUrl uri = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
    switch (access) {
    case Access::ReadWrite:
        uri.setQuery(QStringLiteral("mode=rw"));
        break;
    case Access::ReadOnly:
        uri.setQuery(QStringLiteral("mode=ro"));
        break;
    case Access::Immutable:
        uri.setQuery(QStringLiteral("mode=ro&immutable=1"));
        break;
    case Access::Create:
        break;
    }
    return uri.toString(QUrl::FullyEncoded).toUtf8();
}

SqliteConnection::SqliteConnection(const QString &file, Access access, bool isBackup)
    : m_file(file), m_isBackup(isBackup)
{
    const bool writes = access == Access::ReadWrite || access == Access::Create;
    // Serialized: the listing may read on a thread of its own while the
    // connection's owner waits for it.
    int flags = SQLITE_OPEN_URI | SQLITE_OPEN_FULLMUTEX | (writes ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY);
    if (access == Access::Create)
        flags |= SQLITE_OPEN_CREATE;
    const int opened = sqlite3_open_v2(UriOf(file, access).constData(), &m_db, flags, nullptr);
    if (opened != SQLITE_OK) {
        const QString message = MessageOf(opened);
        sqlite3_close(std::exchange(m_db, nullptr));
        throw isBackup ? StoreError::InBackup(file, message) : StoreError(file, message);
    }
    sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
}

SqliteConnection::SqliteConnection(SqliteConnection &&other) noexcept
    : m_db(std::exchange(other.m_db, nullptr)), m_file(std::move(other.m_file)), m_isBackup(other.m_isBackup)
{
}

SqliteConnection &SqliteConnection::operator=(SqliteConnection &&other) noexcept
{
    if (this != &other) {
        sqlite3_close(m_db);
        m_db = std::exchange(other.m_db, nullptr);
        m_file = std::move(other.m_file);
        m_isBackup = other.m_isBackup;
    }
    return *this;
}

SqliteConnection::~SqliteConnection()
{
    sqlite3_close(m_db);
}

QString SqliteConnection::MessageOf(int code) const
{
    const char *engineText = m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(code);
    return ExplainEngineError(m_db ? sqlite3_extended_errcode(m_db) : code, QString::fromUtf8(engineText));
}

QString SqliteConnection::EngineText() const
{
    return m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QString();
}

void SqliteConnection::Fail(int code) const
{
    if (!m_db)
        throw StoreError(m_file, QStringLiteral("Die Datenbank ist nicht geöffnet."));
    throw m_isBackup ? StoreError::InBackup(m_file, MessageOf(code)) : StoreError(m_file, MessageOf(code));
}

SqliteStatement SqliteConnection::Prepare(QByteArrayView sql) const
{
    if (!m_db)
        Fail(SQLITE_MISUSE);
    sqlite3_stmt *statement = nullptr;
    const int prepared = sqlite3_prepare_v2(m_db, sql.data(), int(sql.size()), &statement, nullptr);
    SqliteStatement owner(statement, this);
    if (prepared != SQLITE_OK)
        Fail(prepared);
    return owner;
}

void SqliteConnection::Exec(const char *sql) const
{
    if (!m_db)
        Fail(SQLITE_MISUSE);
    const int done = sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
    if (done != SQLITE_OK)
        Fail(done);
}

void SqliteConnection::ExecQuietly(const char *sql) const noexcept
{
    if (m_db)
        sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
}

qint64 SqliteConnection::Int64Of(const char *sql) const
{
    SqliteStatement statement = Prepare(sql);
    if (!statement.Step())
        Fail(SQLITE_ERROR);
    return statement.Int64(0);
}

qint64 SqliteConnection::LastInsertRowId() const
{
    return sqlite3_last_insert_rowid(m_db);
}

int SqliteConnection::Changes() const
{
    return sqlite3_changes(m_db);
}

qint64 SqliteConnection::DataVersion() const
{
    return Int64Of("PRAGMA data_version");
}
