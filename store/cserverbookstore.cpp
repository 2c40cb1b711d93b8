#include "cserverbookstore.h"

#include "cbookbackups.h"
#include "storeerror.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QScopeGuard>
#include <QUrl>
#include <QUuid>
#include <QVariant>

#include <sqlite3.h>
#ifdef __linux__
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <memory>
#include <optional>

namespace {

const QString kTable = QStringLiteral("Serverbook");
const QString kFields = QStringLiteral("Bezeichnung, Servername, Startverzeichnis, Plugindateiname");

// Long enough to ride out another program's short write, short enough that a
// modal dialog does not seem frozen on a database that stays locked.
constexpr int kBusyTimeoutMs = 2000;

// The listing reads the rowid and the label of every row, in cursor order.
const char *const kListingColumns = "rowid, Bezeichnung";
const QString kSetFields =
    QStringLiteral("Bezeichnung = ?, Servername = ?, Startverzeichnis = ?, Plugindateiname = ?");

QByteArray listingSql(const char *columns)
{
    return QStringLiteral("SELECT %1 FROM %2 ORDER BY rowid").arg(QLatin1String(columns), kTable).toUtf8();
}

// Unique in the process even when several copies of this code are loaded
// (the module and a host that links the store itself).
QString uniqueConnectionName(const char *purpose)
{
    return QStringLiteral("kelvo-%1-%2").arg(QLatin1String(purpose), QUuid::createUuid().toString(QUuid::WithoutBraces));
}

// Every text the store hands out is decoded here, the listing's labels and a
// row's fields alike, so that a label compares equal to itself even when
// another program stored bytes that are not valid UTF-8.
QString columnText(sqlite3_stmt *statement, int column)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, column)),
                             sqlite3_column_bytes(statement, column));
}

// Decodes one label into out and returns the UTF-16 units written, exactly as
// QString::fromUtf8 would: valid UTF-8 is decoded here, a byte at a time, at
// several times the speed of a general decoder; anything else (an invalid
// sequence, a leading byte order mark, which fromUtf8 drops) goes to
// fromUtf8 itself. out must have room for bytes.size() units.
qsizetype decodeLabel(QChar *out, QByteArrayView bytes)
{
    const auto *in = reinterpret_cast<const uchar *>(bytes.data());
    const qsizetype size = bytes.size();
    auto fallback = [&] {
        const QString decoded = QString::fromUtf8(bytes);
        std::copy(decoded.cbegin(), decoded.cend(), out);
        return decoded.size();
    };
    if (size >= 3 && in[0] == 0xEF && in[1] == 0xBB && in[2] == 0xBF)
        return fallback();
    auto continuation = [&](qsizetype at) { return at < size && (in[at] & 0xC0) == 0x80; };
    QChar *written = out;
    for (qsizetype i = 0; i < size;) {
        const uchar lead = in[i];
        if (lead < 0x80) {
            *written++ = QChar(lead);
            ++i;
        } else if (lead >= 0xC2 && lead <= 0xDF && continuation(i + 1)) {
            *written++ = QChar(char16_t((lead & 0x1F) << 6 | (in[i + 1] & 0x3F)));
            i += 2;
        } else if (lead >= 0xE0 && lead <= 0xEF && continuation(i + 1) && continuation(i + 2)
                   && !(lead == 0xE0 && in[i + 1] < 0xA0) && !(lead == 0xED && in[i + 1] > 0x9F)) {
            *written++ = QChar(char16_t((lead & 0x0F) << 12 | (in[i + 1] & 0x3F) << 6 | (in[i + 2] & 0x3F)));
            i += 3;
        } else if (lead >= 0xF0 && lead <= 0xF4 && continuation(i + 1) && continuation(i + 2) && continuation(i + 3)
                   && !(lead == 0xF0 && in[i + 1] < 0x90) && !(lead == 0xF4 && in[i + 1] > 0x8F)) {
            const char32_t code = char32_t(lead & 0x07) << 18 | char32_t(in[i + 1] & 0x3F) << 12
                                  | char32_t(in[i + 2] & 0x3F) << 6 | char32_t(in[i + 3] & 0x3F);
            *written++ = QChar::highSurrogate(code);
            *written++ = QChar::lowSurrogate(code);
            i += 4;
        } else {
            return fallback();
        }
    }
    return written - out;
}

// Fresh memory faults in a page at a time on first touch, and on a virtual
// machine each fault costs microseconds. The listing asks the kernel for the
// next 64 KiB of its string at once instead; where the kernel cannot, the
// pages fault in as usual.
class FaultAhead
{
public:
    // Makes text [reached, at least end) resident.
    void reach(QString &text, qsizetype end)
    {
        if (end <= m_reached)
            return;
        const qsizetype to = std::min(text.size(), std::max(end, m_reached + kStep));
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
        const auto page = uintptr_t(sysconf(_SC_PAGESIZE));
        const uintptr_t begin = (uintptr_t(text.data() + m_reached) + page - 1) & ~(page - 1);
        const uintptr_t stop = uintptr_t(text.data() + to) & ~(page - 1);
        if (stop > begin)
            madvise(reinterpret_cast<void *>(begin), stop - begin, MADV_POPULATE_WRITE);
#endif
        m_reached = to;
    }
    // The string moved: only what it held came along.
    void moved(qsizetype held) { m_reached = held; }

private:
    static constexpr qsizetype kStep = 32 * 1024;  // UTF-16 units
    qsizetype m_reached = 0;
};

QString engineMessageOf(sqlite3 *handle)
{
    return ExplainEngineError(sqlite3_extended_errcode(handle), QString::fromUtf8(sqlite3_errmsg(handle)));
}

// SQLite opens no path longer than 512 bytes, with "-journal" after it;
// backups lie two levels further down under longer names. A book whose own
// path leaves them no room is refused with the reason, not with the engine's
// "unable to open database file" at its first backup.
constexpr qsizetype kMostPathBytes = 440;

std::optional<QString> tooLong(const QString &file)
{
    const qsizetype bytes = QFile::encodeName(QFileInfo(file).absoluteFilePath()).size();
    if (bytes <= kMostPathBytes)
        return std::nullopt;
    return QStringLiteral("Der Pfad ist %1 Bytes lang; SQLite kann ein Serverbook mit seinen Sicherungen nur bis "
                          "%2 Bytes öffnen. Bitte einen kürzeren Ordner wählen (--plugin-dir).")
        .arg(bytes)
        .arg(kMostPathBytes);
}

QString causeOf(const QSqlError &error)
{
    const QString text = error.databaseText().isEmpty() ? error.driverText() : error.databaseText();
    bool isCode = false;
    const int code = error.nativeErrorCode().toInt(&isCode);
    return isCode ? ExplainEngineError(code, text) : text;
}

// A connection that opens an existing file for reading and writing and never
// creates one (mode=rw), waiting a little for another program's lock.
QSqlDatabase addConnection(const QString &name, const QString &file)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    QUrl uri = QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath());
    uri.setQuery(QStringLiteral("mode=rw"));
    db.setDatabaseName(uri.toString(QUrl::FullyEncoded));
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
    return db;
}

} // namespace

QString SqliteLibraryMismatch(const QString &driverVersion)
{
    const QString ours = QString::fromLatin1(sqlite3_libversion());
    if (driverVersion == ours)
        return {};
    return QStringLiteral("Qts SQLite-Treiber verwendet SQLite %1, dieses Modul SQLite %2; beide müssen "
                          "dieselbe Bibliothek sein, sonst wird die Datei nicht geöffnet.")
        .arg(driverVersion.isEmpty() ? QStringLiteral("(unbekannt)") : driverVersion, ours);
}

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
    if (const auto why = tooLong(file))
        throw StoreError(file, *why);
    const QFileInfo info(file);
    if (!QDir().mkpath(info.absolutePath()))
        throw StoreError(file, QStringLiteral("Der Ordner kann nicht angelegt werden."));
    // Created exclusively: whatever stands at the path (another book, one
    // being created right now, even a dangling link) stays untouched.
    QFile created(file);
    if (!created.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        if (QFileInfo::exists(file) || QFileInfo(file).isSymLink())
            throw StoreError(file, QStringLiteral("Es gibt dort bereits ein Serverbook oder eine andere Datei; "
                                                  "sie existiert bereits und wird nicht überschrieben."));
        throw StoreError(file, QStringLiteral("Die Datei kann nicht angelegt werden: %1").arg(created.errorString()));
    }
    created.close();

    const QString connection = uniqueConnectionName("create");
    QString cause;
    {
        QSqlDatabase db = addConnection(connection, file);
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
        // Only the file this call created goes again.
        QFile::remove(file);
        throw StoreError(file, cause);
    }
}

void CServerBookStore::Open(const QString &file)
{
    Close();
    const QFileInfo info(file);
    if (info.isDir())
        throw StoreError(file, QStringLiteral("Dort steht ein Ordner, keine Serverbook-Datei."));
    if (!info.isFile())
        throw StoreError(file, QStringLiteral("Die Datei wurde nicht gefunden."));
    if (const auto why = tooLong(file))
        throw StoreError(file, *why);

    m_file = file;
    m_connection = uniqueConnectionName("store");
    m_db = addConnection(m_connection, file);
    try {
        if (!m_db.open())
            throw StoreError(file, causeOf(m_db.lastError()));
        // The connection is also driven through SQLite's own API, which is
        // only sound when Qt's driver runs the same SQLite as this code.
        QSqlQuery version = query(QStringLiteral("SELECT sqlite_version()"));
        exec(version);
        if (const QString mismatch = SqliteLibraryMismatch(version.next() ? version.value(0).toString() : QString());
            !mismatch.isEmpty())
            throw StoreError(file, mismatch);
        // Reading the four fields proves the file is SQLite and has the table.
        QSqlQuery probe = query(QStringLiteral("SELECT %1 FROM %2 LIMIT 0").arg(kFields, kTable));
        exec(probe);
        requireListableTable();
        // The listing reads every page once, in order: a page cache would
        // only hold memory a large book's sort needs.
        QSqlQuery cache = query(QStringLiteral("PRAGMA cache_size = -256"));
        exec(cache);
    } catch (...) {
        Close();
        throw;
    }
}

void CServerBookStore::Close()
{
    if (m_connection.isEmpty())
        return;
    m_row.clear();
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connection);
    m_connection.clear();
    m_backup.clear();
    m_backupFailure.reset();
    m_restoredFrom.clear();
    m_rotated = false;
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

void CServerBookStore::failEngine() const
{
    throw StoreError(m_file, engineMessageOf(sqliteHandle()));
}

// A table that opens is not yet one that lists: a view has no rowids to
// address rows by, and a table WITHOUT ROWID refuses the listing statement.
void CServerBookStore::requireListableTable()
{
    QSqlQuery kind = query(QStringLiteral("SELECT type FROM sqlite_schema WHERE name = ? COLLATE NOCASE"));
    kind.addBindValue(kTable);
    exec(kind);
    if (kind.next() && kind.value(0).toString() != QLatin1String("table"))
        throw StoreError(m_file, QStringLiteral("%1 ist keine Tabelle, sondern vom Typ %2; "
                                                "ihre Einträge lassen sich nicht einzeln ansprechen.")
                                     .arg(kTable, kind.value(0).toString()));
    try {
        prepare(listingSql(kListingColumns));
    } catch (const StoreError &) {
        throw StoreError(m_file, QStringLiteral("Die Tabelle %1 lässt sich nicht auflisten: %2")
                                     .arg(kTable, QString::fromUtf8(sqlite3_errmsg(sqliteHandle()))));
    }
}

CServerBookStore::Statement CServerBookStore::prepare(const QByteArray &sql)
{
    sqlite3_stmt *statement = nullptr;
    const int prepared = sqlite3_prepare_v2(sqliteHandle(), sql.constData(), int(sql.size()), &statement, nullptr);
    Statement owner(statement, sqlite3_finalize);
    if (prepared != SQLITE_OK)
        failEngine();
    return owner;
}

// Runs the listing statement over columns (rowid first) in cursor order and
// calls perRow for each row. A scan the engine cuts short is an error, not a
// shorter list. Records the data_version the listing is valid for; it is
// read before the scan, so a commit racing the scan marks the listing stale.
template<typename PerRow>
void CServerBookStore::scan(const char *columns, PerRow &&perRow)
{
    const qint64 version = dataVersion();
    const Statement statement = prepare(listingSql(columns));

    std::vector<qint64> rowids;
    // Tables change little between listings: the last size is a good guess.
    rowids.reserve(m_rowids.size());
    int step;
    while ((step = sqlite3_step(statement.get())) == SQLITE_ROW) {
        rowids.push_back(sqlite3_column_int64(statement.get(), 0));
        perRow(statement.get());
    }
    if (step != SQLITE_DONE)
        failEngine();
    m_rowids = std::move(rowids);
    m_listedVersion = version;
    m_haveRows = true;
    m_rowLoaded = false;
}

void CServerBookStore::ensureRows()
{
    if (!m_haveRows)
        scan("rowid", [](sqlite3_stmt *) {});
}

qint64 CServerBookStore::dataVersion()
{
    const Statement statement = prepare("PRAGMA data_version");
    if (sqlite3_step(statement.get()) != SQLITE_ROW)
        failEngine();
    return sqlite3_column_int64(statement.get(), 0);
}

bool CServerBookStore::ChangedSinceListing()
{
    ensureRows();
    return dataVersion() != m_listedVersion;
}

// The book is backed up before the first change of each opening. BEGIN
// IMMEDIATE then takes the write lock at once, so a check made inside
// (ChangedSinceListing) still holds when the change commits. Rolls back
// unless committed.
class CServerBookStore::WriteTransaction
{
public:
    explicit WriteTransaction(CServerBookStore &store) : m_store(store)
    {
        m_store.backUpOnce();
        run("BEGIN IMMEDIATE");
    }
    ~WriteTransaction()
    {
        if (!m_committed)
            sqlite3_exec(m_store.sqliteHandle(), "ROLLBACK", nullptr, nullptr, nullptr);
    }
    void commit()
    {
        run("COMMIT");
        m_committed = true;
        m_store.rotateBackupsOnce();
    }

private:
    void run(const char *sql)
    {
        if (sqlite3_exec(m_store.sqliteHandle(), sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            m_store.failEngine();
    }
    CServerBookStore &m_store;
    bool m_committed = false;
};

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
        return !m_row.empty();
    m_row.clear();
    const Statement statement = prepare(QStringLiteral("SELECT * FROM %1 WHERE rowid = ?").arg(kTable).toUtf8());
    sqlite3_bind_int64(statement.get(), 1, m_rowids[size_t(m_pos)]);
    const int step = sqlite3_step(statement.get());
    if (step == SQLITE_ROW) {
        for (int column = 0; column < sqlite3_column_count(statement.get()); ++column)
            m_row.push_back({QString::fromUtf8(sqlite3_column_name(statement.get(), column)),
                             columnText(statement.get(), column)});
    } else if (step != SQLITE_DONE) {
        failEngine();
    }
    // Checked after the read: unchanged now means unchanged when it was read.
    if (dataVersion() != m_listedVersion)
        m_row.clear();
    m_rowLoaded = true;
    return !m_row.empty();
}

QString CServerBookStore::GetFieldText(const QString &field)
{
    if (!loadCurrentRow())
        throw StoreError(m_file, QStringLiteral("Der Eintrag wurde von einem anderen Programm geändert "
                                                "oder gelöscht."));
    // Field names compare as SQLite compares them, regardless of case.
    const auto named = std::find_if(m_row.cbegin(), m_row.cend(), [&field](const RowField &f) {
        return f.name.compare(field, Qt::CaseInsensitive) == 0;
    });
    if (named == m_row.cend())
        throw StoreError(m_file, QStringLiteral("Das Feld %1 fehlt.").arg(field));
    return named->text;
}

qint64 CServerBookStore::Append(const QString &label, const QString &server, const QString &startDir,
                                const QString &pluginFile)
{
    WriteTransaction transaction(*this);
    const qint64 rowid = appendRow({label, server, startDir, pluginFile});
    transaction.commit();
    // A new row normally comes last in rowid order, and the listing takes it
    // in; one that does not retires the listing.
    if (m_haveRows && (m_rowids.empty() || rowid > m_rowids.back()))
        m_rowids.push_back(rowid);
    else
        m_haveRows = false;
    m_rowLoaded = false;
    return rowid;
}

void CServerBookStore::AppendAll(const std::vector<QStringList> &rows)
{
    WriteTransaction transaction(*this);
    for (const QStringList &row : rows)
        appendRow(row);
    transaction.commit();
    m_haveRows = false;
    m_rowLoaded = false;
}

void CServerBookStore::AppendChosen(const std::function<std::vector<QStringList>()> &choose)
{
    WriteTransaction transaction(*this);
    // What choose reads is read now, inside the transaction.
    m_haveRows = false;
    m_rowLoaded = false;
    const std::vector<QStringList> rows = choose();
    for (const QStringList &row : rows)
        appendRow(row);
    transaction.commit();
    m_haveRows = false;
    m_rowLoaded = false;
}

// The row is first stored empty and then filled, as other programs on the
// same file expect; the caller's transaction keeps an empty row from staying.
qint64 CServerBookStore::appendRow(const QStringList &texts)
{
    QSqlQuery insert = query(QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(kTable));
    exec(insert);
    const qint64 rowid = insert.lastInsertId().toLongLong();
    QSqlQuery fill = query(QStringLiteral("UPDATE %1 SET %2 WHERE rowid = ?").arg(kTable, kSetFields));
    for (qsizetype i = 0; i < 4; ++i)
        fill.addBindValue(texts.value(i));
    fill.addBindValue(rowid);
    exec(fill);
    return rowid;
}

bool CServerBookStore::DeleteCurrent(const std::optional<QString> &expectedLabel)
{
    if (!changeCurrentRow(QStringLiteral("DELETE FROM %1").arg(kTable), {}, expectedLabel))
        return false;
    m_rowids.erase(m_rowids.begin() + m_pos);
    return true;
}

bool CServerBookStore::UpdateCurrent(const std::optional<QString> &expectedLabel, const QString &label,
                                     const QString &server, const QString &startDir, const QString &pluginFile)
{
    return changeCurrentRow(QStringLiteral("UPDATE %1 SET %2").arg(kTable, kSetFields),
                            {label, server, startDir, pluginFile}, expectedLabel);
}

// Runs statement (with values bound) on the current row, in one transaction
// with the checks that it is still the listing's row and holds the label.
bool CServerBookStore::changeCurrentRow(const QString &statement, const QStringList &values,
                                        const std::optional<QString> &expectedLabel)
{
    if (IsBOF() || IsEOF())
        return false;
    WriteTransaction transaction(*this);
    if (ChangedSinceListing())
        return false;
    // A label without a value lists as empty text, so it matches an empty one.
    QSqlQuery change = query(statement + QStringLiteral(" WHERE rowid = ?")
                             + (expectedLabel ? QStringLiteral(" AND ifnull(Bezeichnung, '') = ?") : QString()));
    for (const QString &value : values)
        change.addBindValue(value);
    change.addBindValue(m_rowids[size_t(m_pos)]);
    if (expectedLabel)
        change.addBindValue(expectedLabel->isNull() ? QStringLiteral("") : *expectedLabel);
    exec(change);
    const bool changed = change.numRowsAffected() == 1;
    change.finish();
    transaction.commit();
    m_rowLoaded = false;
    return changed;
}

qint64 CServerBookStore::CurrentRowId()
{
    return IsBOF() || IsEOF() ? -1 : m_rowids[size_t(m_pos)];
}

int CServerBookStore::OrdinalOf(qint64 rowid)
{
    ensureRows();
    // The listing is in rowid order.
    const auto found = std::lower_bound(m_rowids.cbegin(), m_rowids.cend(), rowid);
    return found != m_rowids.cend() && *found == rowid ? int(found - m_rowids.cbegin()) : -1;
}

// A backup that failed stops every later change of this opening too, with
// the same reason: no change may go through unbacked.
void CServerBookStore::backUpOnce()
{
    if (m_backup.isEmpty())
        backUp();
}

void CServerBookStore::backUp()
{
    if (m_backupFailure)
        throw *m_backupFailure;
    try {
        m_backup = CBookBackups(m_file).Make(sqliteHandle());
    } catch (const StoreError &error) {
        m_backupFailure = error;
        throw;
    }
}

// Only once a change has committed do old backups go, and never the one just
// made nor one being restored from.
void CServerBookStore::rotateBackupsOnce()
{
    if (m_backup.isEmpty() || m_rotated)
        return;
    m_rotated = true;
    CBookBackups(m_file).Rotate({m_backup, m_restoredFrom});
}

void CServerBookStore::RestoreFrom(const QString &backupFile)
{
    const CBookBackups::Backup checked = CBookBackups(m_file).Inspect(QFileInfo(backupFile).fileName());
    if (!checked.complete())
        throw StoreError::InBackup(backupFile, checked.problem);
    m_restoredFrom = QFileInfo(backupFile).fileName();
    // Always a backup of its own, even after other changes of this opening,
    // so that restoring it undoes exactly this restore.
    backUp();
    sqlite3 *handle = sqliteHandle();
    // Attached read-only and immutable: a restore neither changes the backup
    // it reads nor creates a file beside it.
    const Statement attach = prepare("ATTACH DATABASE ? AS backup");
    const QByteArray uriText = CBookBackups::ImmutableUri(backupFile).toUtf8();
    sqlite3_bind_text(attach.get(), 1, uriText.constData(), int(uriText.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(attach.get()) != SQLITE_DONE)
        throw StoreError::InBackup(backupFile, engineMessageOf(handle));
    const auto detach = qScopeGuard([handle] { sqlite3_exec(handle, "DETACH DATABASE backup", nullptr, nullptr, nullptr); });

    const QStringList backupColumns = columnsOf("backup");
    for (const char *field : {"Bezeichnung", "Servername", "Startverzeichnis", "Plugindateiname"}) {
        if (!backupColumns.contains(QLatin1String(field), Qt::CaseInsensitive))
            throw StoreError(backupFile, QStringLiteral("Die Sicherung hat keine Tabelle %1 mit dem Feld %2.")
                                             .arg(kTable, QLatin1String(field)));
    }
    // Further columns come back as the backup has them, where the book still has them.
    QStringList columns{QStringLiteral("rowid")};
    const QStringList bookColumns = columnsOf("main");
    for (const QString &column : backupColumns) {
        if (bookColumns.contains(column, Qt::CaseInsensitive))
            columns << QLatin1Char('"') + QString(column).replace(QLatin1Char('"'), QLatin1String("\"\"")) + QLatin1Char('"');
    }
    WriteTransaction transaction(*this);
    for (const QString &sql : {QStringLiteral("DELETE FROM main.%1").arg(kTable),
                               QStringLiteral("INSERT INTO main.%1 (%2) SELECT %2 FROM backup.%1")
                                   .arg(kTable, columns.join(QStringLiteral(", ")))}) {
        const Statement statement = prepare(sql.toUtf8());
        if (sqlite3_step(statement.get()) != SQLITE_DONE)
            failEngine();
    }
    transaction.commit();
    m_haveRows = false;
    m_rowLoaded = false;
}

QStringList CServerBookStore::columnsOf(const char *schema)
{
    QStringList columns;
    const Statement info = prepare(QStringLiteral("SELECT name FROM pragma_table_info('%1', '%2')")
                                       .arg(kTable, QLatin1String(schema))
                                       .toUtf8());
    int step;
    while ((step = sqlite3_step(info.get())) == SQLITE_ROW)
        columns << columnText(info.get(), 0);
    if (step != SQLITE_DONE)
        failEngine();
    return columns;
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
    const Labels labels = ListLabels();
    std::vector<ListedEntry> entries;
    entries.reserve(labels.ends.size());
    for (size_t i = 0; i < labels.ends.size(); ++i) {
        const quint32 start = i ? labels.ends[i - 1] : 0;
        entries.push_back({labels.text.mid(start, labels.ends[i] - start), int(i)});
    }
    return entries;
}

CServerBookStore::Labels CServerBookStore::ListLabels()
{
    // The listing is the one operation whose cost grows with the table: one
    // statement on SQLite's own handle, every label decoded straight into one
    // string, no object per row.
    Labels labels;
    labels.ends.reserve(m_rowids.size());
    // Room for every label at once, as UTF-8 never gives more UTF-16 units
    // than it has bytes and the labels have fewer bytes than the file: a
    // string regrown step by step copies, and faults in, several times what
    // it ends up holding. Rows still in a write-ahead log can need more. A
    // file made large by further columns (notes, pictures) gets no more than
    // room for a book of a million labels; only what the labels fill is ever
    // touched, and the string grows beyond that when they need it.
    constexpr qsizetype kMostRoomAhead = 32 * 1024 * 1024;  // UTF-16 units
    labels.text.resize(std::min(QFileInfo(m_file).size(), kMostRoomAhead));
    FaultAhead ahead;
    qsizetype used = 0;
    scan(kListingColumns, [&](sqlite3_stmt *statement) {
        const auto *bytes = reinterpret_cast<const char *>(sqlite3_column_text(statement, 1));
        const qsizetype size = sqlite3_column_bytes(statement, 1);
        if (labels.text.size() - used < size) {
            labels.text.resize(std::max(used + size, labels.text.size() + labels.text.size() / 2 + 4096));
            ahead.moved(used);
        }
        ahead.reach(labels.text, used + size);
        used += decodeLabel(labels.text.data() + used, QByteArrayView(bytes, size));
        labels.ends.push_back(quint32(used));
    });
    labels.text.truncate(used);
    // Gives back the room the labels did not need: a large book's sort needs it.
    labels.text.squeeze();
    m_pos = qsizetype(m_rowids.size());
    return labels;
}

bool CServerBookStore::ListingCurrent()
{
    return m_haveRows && dataVersion() == m_listedVersion;
}

sqlite3 *CServerBookStore::sqliteHandle() const
{
    const QVariant handle = m_db.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0 || !*static_cast<sqlite3 *const *>(handle.data()))
        throw StoreError(m_file, QStringLiteral("Die Datenbank ist nicht geöffnet."));
    return *static_cast<sqlite3 *const *>(handle.data());
}
