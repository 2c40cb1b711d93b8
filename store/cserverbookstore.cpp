#include "cserverbookstore.h"

#include "storeerror.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUuid>
#include <QVariant>

#include <sqlite3.h>

#include <memory>

namespace {

const QString kTable = QStringLiteral("Serverbook");
const QString kFields = QStringLiteral("Bezeichnung, Servername, Startverzeichnis, Plugindateiname");

// Long enough to ride out another program's short write, short enough that a
// modal dialog does not seem frozen on a database that stays locked.
constexpr int kBusyTimeoutMs = 2000;

// Unique in the process even when several copies of this code are loaded
// (the module and a host that links the store itself).
QString uniqueConnectionName(const char *purpose)
{
    return QStringLiteral("kelvo-%1-%2").arg(QLatin1String(purpose), QUuid::createUuid().toString(QUuid::WithoutBraces));
}

QString causeOf(const QSqlError &error)
{
    return error.databaseText().isEmpty() ? error.driverText() : error.databaseText();
}

} // namespace

CServerBookStore::CServerBookStore() = default;

CServerBookStore::~CServerBookStore()
{
    Close();
}

QString CServerBookStore::FileIn(const QString &pluginDir)
{
    return pluginDir + QStringLiteral("/DATA/kelvo.mdb");
}

void CServerBookStore::Create(const QString &file)
{
    const QFileInfo info(file);
    if (info.exists())
        throw StoreError(file, QStringLiteral("Die Datei existiert bereits und wird nicht überschrieben."));
    if (!QDir().mkpath(info.absolutePath()))
        throw StoreError(file, QStringLiteral("Der Ordner kann nicht angelegt werden."));

    const QString connection = uniqueConnectionName("create");
    QString cause;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(file);
        if (!db.open()) {
            cause = causeOf(db.lastError());
        } else {
            QSqlQuery create(db);
            if (!create.exec(QStringLiteral("CREATE TABLE %1 (Bezeichnung TEXT, Servername TEXT, "
                                            "Startverzeichnis TEXT, Plugindateiname TEXT)")
                                 .arg(kTable)))
                cause = causeOf(create.lastError());
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    if (!cause.isEmpty()) {
        QFile::remove(file);
        throw StoreError(file, cause);
    }
}

void CServerBookStore::Open(const QString &file)
{
    Close();
    if (!QFileInfo(file).isFile())
        throw StoreError(file, QStringLiteral("Die Datei wurde nicht gefunden."));

    m_file = file;
    m_connection = uniqueConnectionName("store");
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    // mode=rw: open for reading and writing, but never create the file.
    QUrl uri = QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath());
    uri.setQuery(QStringLiteral("mode=rw"));
    m_db.setDatabaseName(uri.toString(QUrl::FullyEncoded));
    m_db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
    try {
        if (!m_db.open())
            throw StoreError(file, causeOf(m_db.lastError()));
        // Reading the four fields proves the file is SQLite and has the table.
        QSqlQuery probe = query(QStringLiteral("SELECT %1 FROM %2 LIMIT 0").arg(kFields, kTable));
        exec(probe);
    } catch (...) {
        Close();
        throw;
    }
}

void CServerBookStore::Close()
{
    if (m_connection.isEmpty())
        return;
    m_row = QSqlRecord();
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connection);
    m_connection.clear();
    m_rowids.clear();
    m_haveRows = false;
    m_pos = 0;
    m_rowLoaded = false;
}

QSqlQuery CServerBookStore::query(const QString &sql)
{
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    if (!q.prepare(sql))
        fail(q);
    return q;
}

void CServerBookStore::exec(QSqlQuery &q)
{
    if (!q.exec())
        fail(q);
}

void CServerBookStore::fail(const QSqlQuery &q) const
{
    throw StoreError(m_file, causeOf(q.lastError()));
}

void CServerBookStore::ensureRows()
{
    if (m_haveRows)
        return;
    QSqlQuery q = query(QStringLiteral("SELECT rowid FROM %1 ORDER BY rowid").arg(kTable));
    exec(q);
    m_rowids.clear();
    while (q.next())
        m_rowids.push_back(q.value(0).toLongLong());
    if (q.lastError().isValid())
        fail(q);
    m_haveRows = true;
}

bool CServerBookStore::IsBOF()
{
    ensureRows();
    return m_rowids.empty() || m_pos < 0;
}

bool CServerBookStore::IsEOF()
{
    ensureRows();
    return m_rowids.empty() || m_pos >= qsizetype(m_rowids.size());
}

void CServerBookStore::MoveFirst()
{
    ensureRows();
    m_pos = 0;
    m_rowLoaded = false;
}

void CServerBookStore::MoveNext()
{
    Move(1);
}

void CServerBookStore::Move(int rows)
{
    ensureRows();
    m_pos = qBound(qsizetype(-1), m_pos + rows, qsizetype(m_rowids.size()));
    m_rowLoaded = false;
}

// Reads the current row into m_row; false when there is none or it is gone.
bool CServerBookStore::loadCurrentRow()
{
    if (IsBOF() || IsEOF())
        return false;
    if (m_rowLoaded)
        return !m_row.isEmpty();
    QSqlQuery q = query(QStringLiteral("SELECT * FROM %1 WHERE rowid = ?").arg(kTable));
    q.addBindValue(m_rowids[size_t(m_pos)]);
    exec(q);
    m_row = q.next() ? q.record() : QSqlRecord();
    if (q.lastError().isValid())
        fail(q);
    m_rowLoaded = true;
    return !m_row.isEmpty();
}

QString CServerBookStore::GetFieldText(const QString &field)
{
    if (!loadCurrentRow())
        throw StoreError(m_file, QStringLiteral("Der Eintrag existiert nicht mehr."));
    const int index = m_row.indexOf(field);
    if (index < 0)
        throw StoreError(m_file, QStringLiteral("Das Feld %1 fehlt.").arg(field));
    return m_row.value(index).toString();
}

void CServerBookStore::Append(const QString &label, const QString &server, const QString &startDir,
                              const QString &pluginFile)
{
    // The row is first stored empty and then filled, as other programs on the
    // same file expect; one transaction keeps an empty row from ever staying.
    if (!m_db.transaction())
        throw StoreError(m_file, causeOf(m_db.lastError()));
    try {
        QSqlQuery insert = query(QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(kTable));
        exec(insert);
        const QVariant rowid = insert.lastInsertId();
        QSqlQuery fill = query(QStringLiteral("UPDATE %1 SET Bezeichnung = ?, Servername = ?, "
                                              "Startverzeichnis = ?, Plugindateiname = ? WHERE rowid = ?")
                                   .arg(kTable));
        fill.addBindValue(label);
        fill.addBindValue(server);
        fill.addBindValue(startDir);
        fill.addBindValue(pluginFile);
        fill.addBindValue(rowid);
        exec(fill);
        if (!m_db.commit())
            throw StoreError(m_file, causeOf(m_db.lastError()));
    } catch (...) {
        m_db.rollback();
        throw;
    }
    // The listing no longer covers the table; the next move reads it afresh.
    m_haveRows = false;
    m_rowLoaded = false;
}

void CServerBookStore::DeleteCurrent()
{
    if (IsBOF() || IsEOF())
        return;
    QSqlQuery remove = query(QStringLiteral("DELETE FROM %1 WHERE rowid = ?").arg(kTable));
    remove.addBindValue(m_rowids[size_t(m_pos)]);
    exec(remove);
    m_rowLoaded = false;
}

bool CServerBookStore::PositionAt(int ordinal)
{
    MoveFirst();
    if (IsBOF() || IsEOF())
        return false;
    Move(ordinal);
    return loadCurrentRow();
}

std::vector<CServerBookStore::ListedEntry> CServerBookStore::ListAll()
{
    // The listing is the one operation whose cost grows with the table, so it
    // runs one statement on SQLite's own handle instead of paying QSqlQuery's
    // per-value QVariant round trip for every row.
    sqlite3 *handle = sqliteHandle();
    sqlite3_stmt *statement = nullptr;
    const QByteArray sql = QStringLiteral("SELECT rowid, Bezeichnung FROM %1 ORDER BY rowid").arg(kTable).toUtf8();
    if (sqlite3_prepare_v2(handle, sql.constData(), int(sql.size()), &statement, nullptr) != SQLITE_OK)
        throw StoreError(m_file, QString::fromUtf8(sqlite3_errmsg(handle)));
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt *)> finalizer(statement, sqlite3_finalize);

    // Tables change little between listings: the last size is a good guess.
    std::vector<ListedEntry> entries;
    std::vector<qint64> rowids;
    entries.reserve(m_rowids.size());
    rowids.reserve(m_rowids.size());
    int step;
    while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
        const auto *label = reinterpret_cast<const char *>(sqlite3_column_text(statement, 1));
        entries.push_back({QString::fromUtf8(label, sqlite3_column_bytes(statement, 1)), int(rowids.size())});
        rowids.push_back(sqlite3_column_int64(statement, 0));
    }
    // A listing the engine cut short is an error, not a shorter list.
    if (step != SQLITE_DONE)
        throw StoreError(m_file, QString::fromUtf8(sqlite3_errmsg(handle)));
    m_rowids = std::move(rowids);
    m_haveRows = true;
    m_pos = qsizetype(m_rowids.size());
    m_rowLoaded = false;
    return entries;
}

sqlite3 *CServerBookStore::sqliteHandle() const
{
    const QVariant handle = m_db.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0 || !*static_cast<sqlite3 *const *>(handle.data()))
        throw StoreError(m_file, QStringLiteral("Die Datenbank ist nicht geöffnet."));
    return *static_cast<sqlite3 *const *>(handle.data());
}
