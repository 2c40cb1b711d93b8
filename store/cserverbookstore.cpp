#include "cserverbookstore.h"

#include "cbookbackups.h"
#include "listingmemory.h"
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
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/mman.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <utility>

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

// Room for every row a listing of a file of fileBytes can meet, reserved
// at once: a vector grown step by step copies, and faults in, about twice
// what it ends up holding, and leaves the steps behind in the allocator of
// the thread that listed. Only what the rows fill is ever touched. A row
// takes nine bytes of the file at the least, so eight per row is room
// enough; a file of more than eight million rows gets room for those and
// grows as needed.
size_t rowsRoomFor(qint64 fileBytes)
{
    constexpr qint64 kLeastRowBytes = 8;
    constexpr qint64 kMostRowsAhead = 8 * 1024 * 1024;
    return size_t(std::min(fileBytes / kLeastRowBytes, kMostRowsAhead));
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

// Why a folder could not be made: the nearest one above it that exists is
// no folder, or the user may not write into it; else what mkdir said.
QString whyNoFolder(const QString &folder, int mkdirError)
{
    QFileInfo above(folder);
    while (!above.exists() && above.absolutePath() != above.absoluteFilePath())
        above = QFileInfo(above.absolutePath());
    const QString shown = QDir::toNativeSeparators(above.absoluteFilePath());
    if (!above.isDir())
        return QStringLiteral("denn %1 ist kein Ordner").arg(shown);
    if (access(QFile::encodeName(above.absoluteFilePath()).constData(), W_OK) != 0)
        return QStringLiteral("denn in %1 dürfen Sie nicht schreiben").arg(shown);
    return QStringLiteral("denn: %1").arg(QString::fromLocal8Bit(std::strerror(mkdirError)));
}

QString causeOf(const QSqlError &error)
{
    const QString text = error.databaseText().isEmpty() ? error.driverText() : error.databaseText();
    bool isCode = false;
    const int code = error.nativeErrorCode().toInt(&isCode);
    return isCode ? ExplainEngineError(code, text) : text;
}

// Why the book at file can only be read: a file system mounted read-only, a
// file or a folder the user may not write (SQLite writes its journal beside
// the book). Empty when it can be changed.
QString readOnlyReasonOf(const QString &file)
{
    const QByteArray path = QFile::encodeName(QFileInfo(file).absoluteFilePath());
    const QByteArray folder = QFile::encodeName(QFileInfo(file).absolutePath());
    struct statvfs system {};
    if (statvfs(path.constData(), &system) == 0 && (system.f_flag & ST_RDONLY))
        return QStringLiteral("das Dateisystem ist schreibgeschützt eingehängt");
    if (access(path.constData(), W_OK) != 0)
        return QStringLiteral("die Datei ist schreibgeschützt");
    if (access(folder.constData(), W_OK) != 0)
        return QStringLiteral("der Ordner %1 ist schreibgeschützt").arg(QDir::toNativeSeparators(QFileInfo(file).absolutePath()));
    return {};
}

// A connection that opens an existing file and never creates one: for
// reading and writing (mode=rw), or only reading (mode=ro, and immutable
// for a book in WAL mode whose log files cannot be made in its folder),
// waiting a little for another program's lock.
QSqlDatabase addConnection(const QString &name, const QString &file, const QString &mode = QStringLiteral("mode=rw"))
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    QUrl uri = QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath());
    uri.setQuery(mode);
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

CServerBookStore::CServerBookStore() : m_entryWithRowId(nullptr, sqlite3_finalize)
{
}

CServerBookStore::~CServerBookStore()
{
    Close();
}

QString CServerBookStore::FileIn(const QString &pluginDir)
{
    return pluginDir + QStringLiteral("/DATA/kelvo.mdb");
}

QString CServerBookStore::ListingOrderFile(const QString &file)
{
    const QFileInfo book(file);
    return book.dir().filePath(book.completeBaseName() + QStringLiteral(".order"));
}

void CServerBookStore::Create(const QString &file)
{
    if (const auto why = tooLong(file))
        throw StoreError(file, *why);
    const QFileInfo info(file);
    if (!QDir().mkpath(info.absolutePath())) {
        const int mkdirError = errno;
        throw StoreError(file, QStringLiteral("Der Ordner %1 kann nicht angelegt werden, %2. Bitte einen Ordner "
                                              "wählen, in den Sie schreiben dürfen (--plugin-dir).")
                                   .arg(QDir::toNativeSeparators(info.absolutePath()),
                                        whyNoFolder(info.absolutePath(), mkdirError)));
    }
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
        throw StoreError(file, QStringLiteral("Die Datei wurde nicht gefunden. Ein leeres Serverbook legt "
                                              "\"kelvo-book init\" an; ein anderes wählt --plugin-dir."));
    if (const auto why = tooLong(file))
        throw StoreError(file, *why);

    m_file = file;
    m_readOnly = readOnlyReasonOf(file);
    struct stat opened {};
    if (::stat(QFile::encodeName(file).constData(), &opened) == 0) {
        m_device = quint64(opened.st_dev);
        m_inode = quint64(opened.st_ino);
    }
    try {
        openConnection(m_readOnly.isEmpty() ? QStringLiteral("mode=rw") : QStringLiteral("mode=ro"));
        // A book in WAL mode whose folder cannot take the log's files can
        // still be read as it is.
        if (!m_readOnly.isEmpty() && !tableReadable()) {
            Close();
            m_file = file;
            m_readOnly = readOnlyReasonOf(file);
            openConnection(QStringLiteral("mode=ro&immutable=1"));
        }
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

bool CServerBookStore::tableReadable()
{
    try {
        QSqlQuery probe = query(QStringLiteral("SELECT 1 FROM %1 LIMIT 0").arg(kTable));
        return probe.exec();
    } catch (const StoreError &) {
        return false;
    }
}

void CServerBookStore::openConnection(const QString &mode)
{
    m_connection = uniqueConnectionName("store");
    m_db = addConnection(m_connection, m_file, mode);
    if (!m_db.open())
        throw StoreError(m_file, causeOf(m_db.lastError()));
}

void CServerBookStore::Close()
{
    if (m_connection.isEmpty())
        return;
    m_row.clear();
    // Finalized before its connection closes.
    m_entryWithRowId.reset();
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connection);
    m_connection.clear();
    m_backup.clear();
    m_backupFailure.reset();
    m_restoredFrom.clear();
    m_rotated = false;
    ListingMemory::KeepRowids(std::exchange(m_rowids, {}));
    m_haveRows = false;
    m_listed = false;
    m_pos = 0;
    m_rowLoaded = false;
    m_snapshot = {};
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

    std::vector<qint64> rowids =
        ListingMemory::TakeRowids(std::max(m_rowids.size(), rowsRoomFor(QFileInfo(m_file).size())));
    int step;
    while ((step = sqlite3_step(statement.get())) == SQLITE_ROW) {
        rowids.push_back(sqlite3_column_int64(statement.get(), 0));
        perRow(statement.get());
    }
    if (step != SQLITE_DONE)
        failEngine();
    ListingMemory::KeepRowids(std::exchange(m_rowids, std::move(rowids)));
    m_listedVersion = version;
    m_haveRows = true;
    m_rowLoaded = false;
}

// The rows of the listing, read at the first move of an opening; false
// when the listing was retired and must be listed again by the caller.
bool CServerBookStore::ensureRows()
{
    if (!m_haveRows && !m_listed)
        scan("rowid", [](sqlite3_stmt *) {});
    return m_haveRows;
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
    return !ensureRows() || dataVersion() != m_listedVersion;
}

bool CServerBookStore::fileReplaced() const
{
    struct stat now {};
    return ::stat(QFile::encodeName(m_file).constData(), &now) != 0 || quint64(now.st_dev) != m_device
           || quint64(now.st_ino) != m_inode;
}

CServerBookStore::OutsideChange CServerBookStore::CheckOutside()
{
    if (fileReplaced())
        return OutsideChange::Replaced;
    return m_haveRows && dataVersion() != m_listedVersion ? OutsideChange::Committed : OutsideChange::None;
}

// A book that may only be read is refused at once, before a backup is
// tried. Otherwise the book is backed up before the first change of each
// opening, and BEGIN IMMEDIATE then takes the write lock at once, so a check
// made inside still holds when the change commits; a file put at the path
// meanwhile is refused, so nothing goes into the one no longer there. Rolls
// back unless committed.
class CServerBookStore::WriteTransaction
{
public:
    explicit WriteTransaction(CServerBookStore &store) : m_store(store)
    {
        if (!m_store.m_readOnly.isEmpty())
            throw StoreError(m_store.m_file, QStringLiteral("Das Serverbook kann nur gelesen werden: %1; "
                                                            "nichts wurde geändert.")
                                                 .arg(m_store.m_readOnly));
        m_store.backUpOnce();
        run("BEGIN IMMEDIATE");
        if (m_store.fileReplaced()) {
            sqlite3_exec(m_store.sqliteHandle(), "ROLLBACK", nullptr, nullptr, nullptr);
            throw StoreError(m_store.m_file, QStringLiteral("Die Datei wurde inzwischen durch eine andere ersetzt "
                                                            "(etwa von einem Sync-Programm); nichts wurde geändert. "
                                                            "Das Serverbook wird neu eingelesen."));
        }
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
    return !ensureRows() || m_rowids.empty() || m_pos < 0;
}

bool CServerBookStore::IsEOF()
{
    return !ensureRows() || m_rowids.empty() || m_pos >= qsizetype(m_rowids.size());
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

// Reads the current row into m_row, and its four fields as stored into
// m_snapshot; false when there is none or it is gone.
bool CServerBookStore::loadCurrentRow()
{
    if (IsBOF() || IsEOF())
        return false;
    if (m_rowLoaded)
        return !m_row.empty();
    m_row.clear();
    m_snapshot = {};
    const Statement statement = prepare(QStringLiteral("SELECT * FROM %1 WHERE rowid = ?").arg(kTable).toUtf8());
    const qint64 rowid = m_rowids[size_t(m_pos)];
    sqlite3_bind_int64(statement.get(), 1, rowid);
    const int step = sqlite3_step(statement.get());
    if (step == SQLITE_ROW) {
        static const QStringList four = kFields.split(QStringLiteral(", "));
        m_snapshot.rowid = rowid;
        for (int column = 0; column < sqlite3_column_count(statement.get()); ++column) {
            const QString name = QString::fromUtf8(sqlite3_column_name(statement.get(), column));
            // As stored first: reading a value as text converts it in place.
            const StoredValue stored = StoredValue::Read(statement.get(), column);
            m_row.push_back({name, columnText(statement.get(), column)});
            // Field names compare as SQLite compares them, regardless of case.
            const auto field = std::find_if(four.cbegin(), four.cend(), [&name](const QString &f) {
                return f.compare(name, Qt::CaseInsensitive) == 0;
            });
            if (field != four.cend())
                m_snapshot.fields[size_t(field - four.cbegin())] = stored;
        }
    } else if (step != SQLITE_DONE) {
        failEngine();
    }
    m_rowLoaded = true;
    return !m_row.empty();
}

RowSnapshot CServerBookStore::CurrentRow()
{
    return loadCurrentRow() ? m_snapshot : RowSnapshot();
}

bool CServerBookStore::RowUnchanged(const RowSnapshot &row)
{
    if (!row.valid())
        return false;
    const Statement check =
        prepare(QStringLiteral("SELECT count(*) FROM %1 WHERE %2").arg(kTable, QLatin1String(RowSnapshot::Guard())).toUtf8());
    row.BindGuard(check.get(), 1);
    if (sqlite3_step(check.get()) != SQLITE_ROW)
        failEngine();
    return sqlite3_column_int(check.get(), 0) == 1;
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
    const qint64 rowid = appendRows({{label, server, startDir, pluginFile}});
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

void CServerBookStore::AppendAll(const std::vector<Row> &rows)
{
    WriteTransaction transaction(*this);
    appendRows(rows);
    transaction.commit();
    m_haveRows = false;
    m_rowLoaded = false;
}

void CServerBookStore::AppendChosen(const std::function<std::vector<Row>()> &choose)
{
    WriteTransaction transaction(*this);
    // What choose reads is read now, inside the transaction.
    scan("rowid", [](sqlite3_stmt *) {});
    appendRows(choose());
    transaction.commit();
    m_haveRows = false;
    m_rowLoaded = false;
}

// Each row is first stored empty and then filled, as other programs on the
// same file expect; the caller's transaction keeps an empty row from staying.
// The two statements are prepared once for all rows. Returns the last rowid.
qint64 CServerBookStore::appendRows(const std::vector<Row> &rows)
{
    const Statement insert = prepare(QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(kTable).toUtf8());
    const Statement fill = prepare(QStringLiteral("UPDATE %1 SET %2 WHERE rowid = ?").arg(kTable, kSetFields).toUtf8());
    qint64 rowid = -1;
    for (const Row &texts : rows) {
        if (sqlite3_step(insert.get()) != SQLITE_DONE)
            failEngine();
        sqlite3_reset(insert.get());
        rowid = sqlite3_last_insert_rowid(sqliteHandle());
        for (int i = 0; i < 4; ++i) {
            // A text that was never given is stored as NULL, as Qt's driver binds it.
            const QString &text = texts[size_t(i)];
            if (text.isNull())
                sqlite3_bind_null(fill.get(), i + 1);
            else
                sqlite3_bind_text16(fill.get(), i + 1, text.utf16(), int(text.size() * 2), SQLITE_STATIC);
        }
        sqlite3_bind_int64(fill.get(), 5, rowid);
        if (sqlite3_step(fill.get()) != SQLITE_DONE)
            failEngine();
        sqlite3_reset(fill.get());
    }
    return rowid;
}

bool CServerBookStore::DeleteRow(const RowSnapshot &row)
{
    if (!changeRow(QStringLiteral("DELETE FROM %1").arg(kTable), {}, row))
        return false;
    const auto listed = std::lower_bound(m_rowids.begin(), m_rowids.end(), row.rowid);
    if (listed != m_rowids.end() && *listed == row.rowid)
        m_rowids.erase(listed);
    return true;
}

bool CServerBookStore::UpdateRow(const RowSnapshot &row, const QString &label, const QString &server,
                                 const QString &startDir, const QString &pluginFile)
{
    return changeRow(QStringLiteral("UPDATE %1 SET %2").arg(kTable, kSetFields), {label, server, startDir, pluginFile},
                     row);
}

bool CServerBookStore::DeleteCurrent()
{
    return DeleteRow(CurrentRow());
}

bool CServerBookStore::UpdateCurrent(const QString &label, const QString &server, const QString &startDir,
                                     const QString &pluginFile)
{
    return UpdateRow(CurrentRow(), label, server, startDir, pluginFile);
}

// Runs statement (with values bound) on the row while it holds what it held
// when it was read: one statement in the write transaction, so no other
// program can change the row between the check and the change.
bool CServerBookStore::changeRow(const QString &statement, const QStringList &values, const RowSnapshot &row)
{
    if (!row.valid())
        return false;
    WriteTransaction transaction(*this);
    const Statement change =
        prepare((statement + QStringLiteral(" WHERE ") + QLatin1String(RowSnapshot::Guard())).toUtf8());
    int parameter = 1;
    for (const QString &value : values) {
        const QByteArray text = value.toUtf8();
        sqlite3_bind_text(change.get(), parameter++, text.constData(), int(text.size()), SQLITE_TRANSIENT);
    }
    row.BindGuard(change.get(), parameter);
    if (sqlite3_step(change.get()) != SQLITE_DONE)
        failEngine();
    const bool changed = sqlite3_changes(sqliteHandle()) == 1;
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
    const qint64 fileBytes = QFileInfo(m_file).size();
    labels.ends.reserve(std::max(m_rowids.size(), rowsRoomFor(fileBytes)));
    // Room for every label at once, as UTF-8 never gives more UTF-16 units
    // than it has bytes and the labels have fewer bytes than the file: a
    // string regrown step by step copies, and faults in, several times what
    // it ends up holding. Rows still in a write-ahead log can need more. A
    // file made large by further columns (notes, pictures) gets no more than
    // room for a book of a million labels; only what the labels fill is ever
    // touched, and the string grows beyond that when they need it.
    constexpr qsizetype kMostRoomAhead = 32 * 1024 * 1024;  // UTF-16 units
    labels.text = ListingMemory::TakeText(std::min(fileBytes, kMostRoomAhead));
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
    m_listed = true;
    labels.text.truncate(used);
    // A large book's room the labels did not need is given back: its sort
    // needs the memory. A smaller book's stays for the next listing.
    if (!ListingMemory::WorthKeeping(labels.text))
        labels.text.squeeze();
    m_pos = qsizetype(m_rowids.size());
    return labels;
}

std::optional<CServerBookStore::Entry> CServerBookStore::EntryWithRowId(qint64 rowid)
{
    if (!m_entryWithRowId)
        m_entryWithRowId = prepare(QStringLiteral("SELECT %1 FROM %2 WHERE rowid = ?").arg(kFields, kTable).toUtf8());
    sqlite3_stmt *statement = m_entryWithRowId.get();
    // Reset on every way out, so that no read stays open between calls.
    const auto reset = qScopeGuard([statement] { sqlite3_reset(statement); });
    sqlite3_bind_int64(statement, 1, rowid);
    const int step = sqlite3_step(statement);
    if (step == SQLITE_DONE)
        return std::nullopt;
    if (step != SQLITE_ROW)
        failEngine();
    return Entry{columnText(statement, 0), columnText(statement, 1), columnText(statement, 2), columnText(statement, 3)};
}

void CServerBookStore::ScanEntries(const std::function<void(const StoredEntry &)> &perRow)
{
    const auto view = [](sqlite3_stmt *statement, int column) {
        const auto *bytes = reinterpret_cast<const char *>(sqlite3_column_text(statement, column));
        return QByteArrayView(bytes, sqlite3_column_bytes(statement, column));
    };
    const QByteArray columns = QStringLiteral("rowid, %1").arg(kFields).toUtf8();
    scan(columns.constData(), [&](sqlite3_stmt *statement) {
        perRow({sqlite3_column_int64(statement, 0), view(statement, 1), view(statement, 2), view(statement, 3),
                view(statement, 4)});
    });
    m_listed = true;
    m_pos = qsizetype(m_rowids.size());
}

qint64 CServerBookStore::CountRows()
{
    const Statement statement = prepare(QStringLiteral("SELECT count(*) FROM %1").arg(kTable).toUtf8());
    if (sqlite3_step(statement.get()) != SQLITE_ROW)
        failEngine();
    return sqlite3_column_int64(statement.get(), 0);
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
