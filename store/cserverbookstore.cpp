#include "cserverbookstore.h"

#include "addresscredentials.h"

#include "cbookbackups.h"
#include "writetransaction.h"

#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>

#include <algorithm>

namespace {

const QString kTable = QString::fromLatin1(BookFile::kTable);
const QString kFields = QString::fromLatin1(BookFile::kFields);
const QString kSetFields =
    QStringLiteral("Bezeichnung = ?, Servername = ?, Startverzeichnis = ?, Plugindateiname = ?");

} // namespace

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

void CServerBookStore::Open(const QString &file)
{
    Close();
    m_book = BookFile(file);
    m_backups.emplace(file);
    ++m_generation;
}

void CServerBookStore::Close()
{
    m_row.clear();
    // Finalized before its connection closes.
    m_entryWithRowId = SqliteStatement();
    m_book = BookFile();
    m_backups.reset();
    m_listing = BookListing();
    m_listed = false;
    m_pos = 0;
    m_rowLoaded = false;
    m_snapshot = {};
}

template<typename PerRow>
void CServerBookStore::list(const char *columns, PerRow &&perRow)
{
    m_listing = BookListing::Read(connection(), columns, BookListing::RoomForRows(QFileInfo(File()).size()),
                                  std::forward<PerRow>(perRow));
    ++m_generation;
    m_rowLoaded = false;
}

// The rows of the listing, read at the first move of an opening; false
// when the listing was retired and must be listed again by the caller.
bool CServerBookStore::ensureRows()
{
    if (!m_listing.IsCurrent() && !m_listed)
        list("", [](const SqliteStatement &) {});
    return m_listing.IsCurrent();
}

bool CServerBookStore::ChangedSinceListing()
{
    return !ensureRows() || !m_listing.Covers(connection().DataVersion());
}

bool CServerBookStore::ListingCurrent()
{
    return m_listing.Covers(connection().DataVersion());
}

CServerBookStore::OutsideChange CServerBookStore::CheckOutside()
{
    if (m_book.Replaced())
        return OutsideChange::Replaced;
    return m_listing.IsCurrent() && !ListingCurrent() ? OutsideChange::Committed : OutsideChange::None;
}

bool CServerBookStore::IsBOF()
{
    return !ensureRows() || m_listing.Count() == 0 || m_pos < 0;
}

bool CServerBookStore::IsEOF()
{
    return !ensureRows() || m_listing.Count() == 0 || m_pos >= m_listing.Count();
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
    m_pos = qBound(qsizetype(-1), m_pos + rows, m_listing.Count());
    m_rowLoaded = false;
}

// Reads the current row's four fields into m_row, and as stored into
// m_snapshot; false when there is none or it is gone. Further columns stay
// unread: another program may keep large values there.
bool CServerBookStore::loadCurrentRow()
{
    if (IsBOF() || IsEOF())
        return false;
    if (m_rowLoaded)
        return !m_row.empty();
    m_row.clear();
    m_snapshot = {};
    SqliteStatement statement =
        connection().Prepare(QStringLiteral("SELECT %1 FROM %2 WHERE rowid = ?").arg(kFields, kTable).toUtf8());
    const qint64 rowid = m_listing.RowIdAt(m_pos);
    statement.Bind(1, rowid);
    if (statement.Step()) {
        static const QStringList four = kFields.split(QStringLiteral(", "));
        m_snapshot.rowid = rowid;
        for (int column = 0; column < 4; ++column) {
            // As stored first: reading a value as text converts it in place.
            m_snapshot.fields[size_t(column)] = StoredValue::Read(statement.Handle(), column);
            m_row.push_back({four[column], statement.Text(column)});
        }
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
    SqliteStatement check = connection().Prepare(
        QStringLiteral("SELECT count(*) FROM %1 WHERE %2").arg(kTable, QLatin1String(RowSnapshot::Guard())).toUtf8());
    row.BindGuard(check, 1);
    return check.Step() && check.Int64(0) == 1;
}

QString CServerBookStore::GetFieldText(const QString &field)
{
    if (!loadCurrentRow())
        throw StoreError(File(), QStringLiteral("Der Eintrag wurde von einem anderen Programm geändert "
                                                "oder gelöscht."));
    // Field names compare as SQLite compares them, regardless of case.
    const auto named = std::find_if(m_row.cbegin(), m_row.cend(), [&field](const RowField &f) {
        return f.name.compare(field, Qt::CaseInsensitive) == 0;
    });
    if (named == m_row.cend())
        throw StoreError(File(), QStringLiteral("Das Feld %1 fehlt.").arg(field));
    return named->text;
}

qint64 CServerBookStore::Append(const QString &label, const QString &server, const QString &startDir,
                                const QString &pluginFile)
{
    WriteTransaction transaction(m_book, *m_backups);
    const qint64 rowid = appendRows({{label, server, startDir, pluginFile}});
    transaction.Commit();
    ++m_generation;
    m_listing.TakeInAppended(rowid);
    m_rowLoaded = false;
    return rowid;
}

void CServerBookStore::AppendAll(const std::vector<Row> &rows)
{
    WriteTransaction transaction(m_book, *m_backups);
    appendRows(rows);
    transaction.Commit();
    ++m_generation;
    m_listing.Retire();
    m_rowLoaded = false;
}

void CServerBookStore::AppendChosen(const std::function<std::vector<Row>()> &choose)
{
    WriteTransaction transaction(m_book, *m_backups);
    // What choose reads is read now, inside the transaction.
    list("", [](const SqliteStatement &) {});
    appendRows(choose());
    transaction.Commit();
    ++m_generation;
    m_listing.Retire();
    m_rowLoaded = false;
}

// No password is ever written into the book, whoever asks: the callers take
// it out of the address and into the desktop's keyring first.
void CServerBookStore::refusePassword(const QString &server) const
{
    if (CredentialsIn(server).hasPassword)
        throw StoreError(File(), QStringLiteral("Die Adresse enthält ein Passwort; Passwörter werden nicht im Serverbook "
                                                "gespeichert, sondern im Schlüsselbund der Arbeitsumgebung."));
}

// Each row is first stored empty and then filled, as other programs on the
// same file expect; the caller's transaction keeps an empty row from staying.
// The two statements are prepared once for all rows. Returns the last rowid.
qint64 CServerBookStore::appendRows(const std::vector<Row> &rows)
{
    SqliteStatement insert = connection().Prepare(QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(kTable).toUtf8());
    SqliteStatement fill =
        connection().Prepare(QStringLiteral("UPDATE %1 SET %2 WHERE rowid = ?").arg(kTable, kSetFields).toUtf8());
    for (const Row &texts : rows)
        refusePassword(texts[1]);
    qint64 rowid = -1;
    for (const Row &texts : rows) {
        insert.Run();
        insert.Reset();
        rowid = connection().LastInsertRowId();
        for (int i = 0; i < 4; ++i)
            fill.Bind(i + 1, texts[size_t(i)]);
        fill.Bind(5, rowid);
        fill.Run();
        fill.Reset();
    }
    return rowid;
}

bool CServerBookStore::DeleteRow(const RowSnapshot &row)
{
    if (!changeRow(QStringLiteral("DELETE FROM %1").arg(kTable), {}, row))
        return false;
    m_listing.TakeInDeleted(row.rowid);
    return true;
}

bool CServerBookStore::UpdateRow(const RowSnapshot &row, const QString &label, const QString &server,
                                 const QString &startDir, const QString &pluginFile)
{
    refusePassword(server);
    return changeRow(QStringLiteral("UPDATE %1 SET %2").arg(kTable, kSetFields), {label, server, startDir, pluginFile},
                     row);
}

bool CServerBookStore::UpdateServer(const RowSnapshot &row, const QString &server)
{
    refusePassword(server);
    return changeRow(QStringLiteral("UPDATE %1 SET Servername = ?").arg(kTable), {server}, row);
}

int CServerBookStore::ChangeServers(const std::function<std::optional<QString>(const QString &server)> &change)
{
    WriteTransaction transaction(m_book, *m_backups);
    std::vector<std::pair<qint64, QString>> changed;
    SqliteStatement read = connection().Prepare(QStringLiteral("SELECT rowid, Servername FROM %1").arg(kTable).toUtf8());
    while (read.Step()) {
        if (std::optional<QString> server = change(read.Text(1))) {
            refusePassword(*server);
            changed.emplace_back(read.Int64(0), std::move(*server));
        }
    }
    SqliteStatement write =
        connection().Prepare(QStringLiteral("UPDATE %1 SET Servername = ? WHERE rowid = ?").arg(kTable).toUtf8());
    for (const auto &[rowid, server] : changed) {
        write.Bind(1, server);
        write.Bind(2, rowid);
        write.Run();
        write.Reset();
    }
    transaction.Commit();
    ++m_generation;
    m_rowLoaded = false;
    return int(changed.size());
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
    WriteTransaction transaction(m_book, *m_backups);
    SqliteStatement change =
        connection().Prepare((statement + QStringLiteral(" WHERE ") + QLatin1String(RowSnapshot::Guard())).toUtf8());
    int parameter = 1;
    for (const QString &value : values)
        change.BindUtf8(parameter++, value.toUtf8());
    row.BindGuard(change, parameter);
    change.Run();
    const bool changed = connection().Changes() == 1;
    transaction.Commit();
    ++m_generation;
    m_rowLoaded = false;
    return changed;
}

qint64 CServerBookStore::CurrentRowId()
{
    return IsBOF() || IsEOF() ? -1 : m_listing.RowIdAt(m_pos);
}

int CServerBookStore::OrdinalOf(qint64 rowid)
{
    ensureRows();
    return m_listing.OrdinalOf(rowid);
}

void CServerBookStore::RestoreFrom(const QString &backupFile)
{
    m_backups->Restore(m_book, backupFile);
    ++m_generation;
    m_listing.Retire();
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
    Labels labels;
    m_listing = BookListing::ReadLabels(connection(), QFileInfo(File()).size(), &labels);
    ++m_generation;
    m_rowLoaded = false;
    m_listed = true;
    m_pos = m_listing.Count();
    return labels;
}

CServerBookStore::FreshListing CServerBookStore::BeginFreshListing()
{
    FreshListing fresh;
    // What the store's own connection will see of the read: a commit after
    // this version shows to it as a change still to take in.
    fresh.m_version = connection().DataVersion();
    fresh.m_generation = m_generation;
    fresh.m_roomForRows = QFileInfo(File()).size();
    fresh.m_connection = m_book.OpenAnother();
    return fresh;
}

void CServerBookStore::FreshListing::Read()
{
    m_listing = BookListing::ReadLabels(m_connection, m_roomForRows, &m_labels);
    m_connection = SqliteConnection();
}

bool CServerBookStore::Adopt(FreshListing &&fresh)
{
    if (fresh.m_generation != m_generation || !fresh.m_listing.IsCurrent())
        return false;
    m_listing = std::move(fresh.m_listing).WithVersion(fresh.m_version);
    ++m_generation;
    m_rowLoaded = false;
    m_listed = true;
    m_pos = m_listing.Count();
    return true;
}

std::optional<CServerBookStore::Entry> CServerBookStore::EntryWithRowId(qint64 rowid)
{
    if (!m_entryWithRowId)
        m_entryWithRowId =
            connection().Prepare(QStringLiteral("SELECT %1 FROM %2 WHERE rowid = ?").arg(kFields, kTable).toUtf8());
    SqliteStatement &statement = m_entryWithRowId;
    // Reset on every way out, so that no read stays open between calls.
    const auto reset = qScopeGuard([&statement] { statement.Reset(); });
    statement.Bind(1, rowid);
    if (!statement.Step())
        return std::nullopt;
    return Entry{statement.Text(0), statement.Text(1), statement.Text(2), statement.Text(3)};
}

void CServerBookStore::ScanEntries(const std::function<void(const StoredEntry &)> &perRow)
{
    list(BookFile::kFields, [&](const SqliteStatement &statement) {
        perRow({statement.Int64(0), statement.Bytes(1), statement.Bytes(2), statement.Bytes(3), statement.Bytes(4)});
    });
    m_listed = true;
    m_pos = m_listing.Count();
}

qint64 CServerBookStore::MostRows() const
{
    // A row takes more than eight bytes of the file, or of its log.
    constexpr qint64 kLeastRowBytes = 8;
    return (QFileInfo(File()).size() + QFileInfo(File() + QStringLiteral("-wal")).size()) / kLeastRowBytes;
}

qint64 CServerBookStore::CountRows()
{
    return connection().Int64Of("SELECT count(*) FROM Serverbook");
}
