#include "cbookbackups.h"

#include "storeerror.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QTimeZone>
#include <QUrl>
#include <QUuid>

#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <tuple>

namespace {

// kelvo-YYYYMMDD-HHMMSSZ.mdb in UTC; older versions wrote the same without
// the Z, in local time.
const QRegularExpression kBackupName(QStringLiteral("^kelvo-(\\d{8}-\\d{6})(Z?)(?:-(\\d+))?\\.mdb$"));
// A backup being written, or one whose writer was killed.
const QRegularExpression kPartName(QStringLiteral(
    "^\\.kelvo-backup-[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\\.part(?:-journal|-wal|-shm)?$"));
const char *const kStampFormat = "yyyyMMdd-HHmmss";
const QStringList kSideFiles = {QStringLiteral("-journal"), QStringLiteral("-wal"), QStringLiteral("-shm")};
// A copy takes seconds even for a very large book: one this old was cut short.
constexpr qint64 kLeftoverAfterSeconds = 10 * 60;
// As the store waits for another program's short write.
constexpr int kBusyTimeoutMs = 2000;

using Connection = std::unique_ptr<sqlite3, int (*)(sqlite3 *)>;
using Statement = std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt *)>;

QString engineMessage(sqlite3 *db, int code)
{
    return ExplainEngineError(code, QString::fromUtf8(db ? sqlite3_errmsg(db) : sqlite3_errstr(code)));
}

QString textOf(sqlite3_stmt *statement, int column)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, column)),
                             sqlite3_column_bytes(statement, column));
}

// Opens uri; on failure problem says why and the connection is null.
Connection openUri(const QString &uri, int flags, QString *problem)
{
    sqlite3 *db = nullptr;
    const int opened = sqlite3_open_v2(uri.toUtf8().constData(), &db, flags | SQLITE_OPEN_URI, nullptr);
    Connection connection(db, sqlite3_close);
    if (opened != SQLITE_OK) {
        *problem = engineMessage(db, opened);
        connection.reset();
    }
    return connection;
}

Statement prepare(sqlite3 *db, const char *sql, QString *problem)
{
    sqlite3_stmt *statement = nullptr;
    const int prepared = sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
    Statement owner(statement, sqlite3_finalize);
    if (prepared != SQLITE_OK) {
        *problem = engineMessage(db, prepared);
        owner.reset();
    }
    return owner;
}

// Steps statement to its first row; false, with the reason, on an engine
// error or when there is none.
bool firstRow(sqlite3 *db, sqlite3_stmt *statement, QString *problem)
{
    const int step = sqlite3_step(statement);
    if (step == SQLITE_ROW)
        return true;
    *problem = step == SQLITE_DONE ? QStringLiteral("keine Zeile") : engineMessage(db, step);
    return false;
}

QDateTime timeInName(const QRegularExpressionMatch &match)
{
    QDateTime time = QDateTime::fromString(match.captured(1), QLatin1String(kStampFormat));
    if (match.captured(2) == QLatin1String("Z"))
        time.setTimeZone(QTimeZone::utc());
    return time.toUTC();
}

void removeWithSideFiles(const QString &path)
{
    QFile::remove(path);
    for (const QString &side : kSideFiles)
        QFile::remove(path + side);
}

// Runs sql with no result rows; false, with the reason, when it fails.
bool run(sqlite3 *db, const char *sql, QString *problem)
{
    const int done = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    if (done != SQLITE_OK)
        *problem = engineMessage(db, done);
    return done == SQLITE_OK;
}

// Bytes 18 and 19 of the header say 1 for a rollback-journal file, 2 for WAL.
bool isRollbackJournalFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray header = file.read(20);
    return header.size() == 20 && header[18] == 1 && header[19] == 1;
}

// Copies the database behind source to a new file at path, as a plain
// rollback-journal file with the record of a backup; the reason when it
// cannot. The file is closed when this returns.
QString copy(sqlite3 *source, const QString &path, qint64 sequence)
{
    QString problem;
    Connection target = openUri(QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded),
                                SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, &problem);
    if (!target)
        return problem;
    sqlite3_backup *backup = sqlite3_backup_init(target.get(), "main", source, "main");
    if (!backup)
        return engineMessage(target.get(), sqlite3_errcode(target.get()));
    const int stepped = sqlite3_backup_step(backup, -1);
    const int finished = sqlite3_backup_finish(backup);
    if (stepped != SQLITE_DONE)
        return ExplainEngineError(stepped, QString::fromUtf8(sqlite3_errstr(stepped)));
    if (finished != SQLITE_OK)
        return engineMessage(target.get(), finished);
    // A copy of a book in WAL mode says so in its header; as a plain
    // rollback-journal file it is read without a log beside it.
    const QByteArray record = QStringLiteral("BEGIN; DROP TABLE IF EXISTS kelvo_backup; "
                                             "CREATE TABLE kelvo_backup (made TEXT, sequence INTEGER, entries INTEGER); "
                                             "INSERT INTO kelvo_backup SELECT '%1', %2, count(*) FROM Serverbook; "
                                             "COMMIT;")
                                  .arg(QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs))
                                  .arg(sequence)
                                  .toUtf8();
    if (!run(target.get(), "PRAGMA journal_mode = DELETE", &problem) || !run(target.get(), record.constData(), &problem))
        return problem;
    const int closed = sqlite3_close(target.release());
    return closed == SQLITE_OK ? QString() : ExplainEngineError(closed, QString::fromUtf8(sqlite3_errstr(closed)));
}

} // namespace

QString CBookBackups::Difference::Summary() const
{
    if (added == 0 && removed == 0 && changed == 0)
        return QStringLiteral("keine Unterschiede");
    return QStringLiteral("+%1 / \u2212%2 / %3 geändert").arg(added).arg(removed).arg(changed);
}

CBookBackups::CBookBackups(const QString &storeFile)
    : m_storeFile(storeFile), m_folder(QFileInfo(storeFile).absolutePath() + QStringLiteral("/backup"))
{
}

QString CBookBackups::ImmutableUri(const QString &path)
{
    QUrl uri = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
    uri.setQuery(QStringLiteral("mode=ro&immutable=1"));
    return uri.toString(QUrl::FullyEncoded);
}

CBookBackups::Backup CBookBackups::inspect(const QString &name, Depth depth) const
{
    Backup backup{name, {}, 0, -1, {}};
    const QRegularExpressionMatch match = kBackupName.match(name);
    if (match.hasMatch())
        backup.made = timeInName(match);
    const QString path = m_folder + QLatin1Char('/') + name;
    // An immutable reader ignores a journal or log beside the file; one that
    // holds anything means the copy was never finished.
    for (const QString &side : {QStringLiteral("-journal"), QStringLiteral("-wal")}) {
        if (QFileInfo(path + side).size() > 0) {
            backup.problem = QStringLiteral("Die Sicherung wurde nicht fertig geschrieben (daneben liegt %1).")
                                 .arg(name + side);
            return backup;
        }
    }
    const Connection db = openUri(ImmutableUri(path), SQLITE_OPEN_READONLY, &backup.problem);
    if (!db)
        return backup;
    QString problem;
    if (depth == Depth::FullCheck) {
        const Statement check = prepare(db.get(), "PRAGMA quick_check", &problem);
        if (!check || !firstRow(db.get(), check.get(), &problem) || textOf(check.get(), 0) != QLatin1String("ok")) {
            backup.problem = QStringLiteral("Die Sicherung ist beschädigt (%1).")
                                 .arg(problem.isEmpty() ? textOf(check.get(), 0) : problem);
            return backup;
        }
    }
    if (!prepare(db.get(), "SELECT Bezeichnung, Servername, Startverzeichnis, Plugindateiname FROM Serverbook LIMIT 0",
                 &problem)) {
        backup.problem = problem;
        return backup;
    }
    // A file without the record is not one of ours; any other failure to
    // read it is a broken backup.
    if (const Statement record = prepare(db.get(), "SELECT made, sequence, entries FROM kelvo_backup", &problem)) {
        if (!firstRow(db.get(), record.get(), &problem)) {
            backup.problem = problem;
            return backup;
        }
        backup.made = QDateTime::fromString(textOf(record.get(), 0), Qt::ISODateWithMs).toUTC();
        backup.sequence = std::max<qint64>(1, sqlite3_column_int64(record.get(), 1));
        backup.entries = sqlite3_column_int(record.get(), 2);
        if (depth == Depth::Record)
            return backup;
    } else if (!problem.contains(QLatin1String("no such table"))) {
        backup.problem = problem;
        return backup;
    }
    const Statement count = prepare(db.get(), "SELECT count(*) FROM Serverbook", &problem);
    if (!count || !firstRow(db.get(), count.get(), &problem)) {
        backup.problem = problem;
        return backup;
    }
    const int counted = sqlite3_column_int(count.get(), 0);
    if (backup.ours() && counted != backup.entries)
        backup.problem = QStringLiteral("Die Sicherung ist unvollständig (%1 statt %2 Einträge).")
                             .arg(counted)
                             .arg(backup.entries);
    backup.entries = counted;
    return backup;
}

std::vector<CBookBackups::Backup> CBookBackups::List() const
{
    std::vector<Backup> backups;
    for (const QString &name : QDir(m_folder).entryList(QDir::Files)) {
        if (kBackupName.match(name).hasMatch())
            backups.push_back(inspect(name, Depth::Record));
    }
    std::sort(backups.begin(), backups.end(), [](const Backup &a, const Backup &b) {
        return std::tie(a.sequence, a.made, a.name) < std::tie(b.sequence, b.made, b.name);
    });
    return backups;
}

QString CBookBackups::PathOf(const QString &name) const
{
    if (!kBackupName.match(name).hasMatch() || !QFileInfo(m_folder + QLatin1Char('/') + name).isFile())
        return {};
    return m_folder + QLatin1Char('/') + name;
}

CBookBackups::Backup CBookBackups::Inspect(const QString &name) const
{
    return inspect(name, Depth::FullCheck);
}

QString CBookBackups::Make(sqlite3 *source) const
{
    QDir().mkpath(m_folder);
    if (!QFileInfo(m_folder).isDir())
        throw StoreError(m_storeFile, QStringLiteral("Vor der Änderung muss eine Sicherung angelegt werden, "
                                                     "aber der Ordner %1 kann nicht angelegt werden; "
                                                     "nichts wurde geändert.")
                                          .arg(QDir::toNativeSeparators(m_folder)));
    qint64 sequence = 1;
    for (const Backup &backup : List())
        sequence = std::max(sequence, backup.sequence + 1);

    const QString part = m_folder + QStringLiteral("/.kelvo-backup-%1.part")
                                        .arg(QUuid::createUuid().toString(QUuid::WithoutBraces));
    auto fail = [&](const QString &cause) {
        removeWithSideFiles(part);
        throw StoreError(m_storeFile, QStringLiteral("Die Sicherung in %1 ist gescheitert (%2); nichts wurde geändert.")
                                          .arg(QDir::toNativeSeparators(m_folder), cause));
    };
    if (const QString problem = copy(source, part, sequence); !problem.isEmpty())
        fail(problem);

    // Read back as every later reader will, before it gets a backup's name.
    const Backup checked = inspect(QFileInfo(part).fileName(), Depth::FullCheck);
    if (!checked.complete())
        fail(checked.problem);
    if (checked.sequence != sequence || !isRollbackJournalFile(part))
        fail(QStringLiteral("die Kopie ist nicht, was geschrieben wurde"));

    // Renaming never replaces a file: a name taken meanwhile, by another
    // program's backup of the same second, moves on to the next suffix.
    const QString stamp = checked.made.toString(QLatin1String(kStampFormat)) + QLatin1Char('Z');
    for (int suffix = 1; suffix <= 1000; ++suffix) {
        const QString name = suffix == 1 ? QStringLiteral("kelvo-%1.mdb").arg(stamp)
                                         : QStringLiteral("kelvo-%1-%2.mdb").arg(stamp).arg(suffix);
        const QString path = m_folder + QLatin1Char('/') + name;
        QFile file(part);
        if (file.rename(path))
            return name;
        if (!QFileInfo::exists(path))
            fail(file.errorString());
    }
    fail(QStringLiteral("kein freier Name"));
    return {};
}

std::vector<bool> CBookBackups::KeptByRule(const std::vector<QDateTime> &madeInOrder)
{
    const qsizetype count = qsizetype(madeInOrder.size());
    std::vector<bool> kept(madeInOrder.size(), false);
    if (count == 0)
        return kept;
    for (qsizetype i = std::max<qsizetype>(0, count - kNewestKept); i < count; ++i)
        kept[size_t(i)] = true;
    // A clock set back counts as a break as well as a long pause.
    qsizetype sessionStart = count - 1;
    while (sessionStart > 0
           && std::abs(madeInOrder[size_t(sessionStart - 1)].secsTo(madeInOrder[size_t(sessionStart)]))
                  <= kSessionGapSeconds)
        --sessionStart;
    kept[size_t(sessionStart)] = true;
    if (sessionStart > 0)
        kept[size_t(sessionStart - 1)] = true;
    QSet<QDate> days;
    for (qsizetype i = count - 1; i >= 0 && days.size() < kDaysKept; --i) {
        const QDate day = madeInOrder[size_t(i)].toLocalTime().date();
        if (!days.contains(day)) {
            days.insert(day);
            kept[size_t(i)] = true;
        }
    }
    return kept;
}

void CBookBackups::Rotate(const QStringList &spared) const
{
    removeLeftovers();
    std::vector<Backup> candidates;
    for (Backup &backup : List()) {
        if (backup.ours() && backup.complete())
            candidates.push_back(std::move(backup));
    }
    std::vector<QDateTime> made;
    for (const Backup &backup : candidates)
        made.push_back(backup.made);
    const std::vector<bool> kept = KeptByRule(made);
    for (size_t i = 0; i < candidates.size(); ++i) {
        if (!kept[i] && !spared.contains(candidates[i].name))
            removeWithSideFiles(m_folder + QLatin1Char('/') + candidates[i].name);
    }
}

// What copies cut short left: temporary files of a writer that has long
// stopped, and journals or logs whose backup is gone. Empty logs and shared
// memory files that reading older versions' backups created go too.
void CBookBackups::removeLeftovers() const
{
    const QDir folder(m_folder);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const QFileInfo &file : folder.entryInfoList(QDir::Files | QDir::Hidden | QDir::System)) {
        const QString name = file.fileName();
        if (kPartName.match(name).hasMatch()) {
            if (file.lastModified().secsTo(now) > kLeftoverAfterSeconds)
                QFile::remove(file.filePath());
            continue;
        }
        for (const QString &side : kSideFiles) {
            if (!name.endsWith(side) || !kBackupName.match(name.chopped(side.size())).hasMatch())
                continue;
            const bool orphan = !folder.exists(name.chopped(side.size()));
            const bool leftOverByReading = side == QLatin1String("-shm") || (side == QLatin1String("-wal") && file.size() == 0);
            if (orphan || leftOverByReading)
                QFile::remove(file.filePath());
        }
    }
}

CBookBackups::Difference CBookBackups::Compare(const QString &name,
                                               const std::function<void(Change, const QString &)> &perRow) const
{
    const QString path = PathOf(name);
    if (path.isEmpty())
        throw StoreError::InBackup(m_folder + QLatin1Char('/') + name, QStringLiteral("Die Sicherung gibt es nicht."));
    QString problem;
    QUrl bookUri = QUrl::fromLocalFile(QFileInfo(m_storeFile).absoluteFilePath());
    bookUri.setQuery(QStringLiteral("mode=ro"));
    const Connection db = openUri(bookUri.toString(QUrl::FullyEncoded), SQLITE_OPEN_READONLY, &problem);
    if (!db)
        throw StoreError(m_storeFile, problem);
    sqlite3_busy_timeout(db.get(), kBusyTimeoutMs);
    const Statement attach = prepare(db.get(), "ATTACH DATABASE ? AS backup", &problem);
    if (!attach)
        throw StoreError(m_storeFile, problem);
    const QByteArray uri = ImmutableUri(path).toUtf8();
    sqlite3_bind_text(attach.get(), 1, uri.constData(), int(uri.size()), SQLITE_TRANSIENT);
    const int attached = sqlite3_step(attach.get());
    if (attached != SQLITE_DONE)
        throw StoreError::InBackup(path, engineMessage(db.get(), attached));

    // Rows are matched by rowid, as the restore brings them back.
    const Statement differences = prepare(db.get(), R"(
        SELECT 0, b.Bezeichnung FROM backup.Serverbook b
            WHERE NOT EXISTS (SELECT 1 FROM main.Serverbook m WHERE m.rowid = b.rowid)
        UNION ALL
        SELECT 1, m.Bezeichnung FROM main.Serverbook m
            WHERE NOT EXISTS (SELECT 1 FROM backup.Serverbook b WHERE b.rowid = m.rowid)
        UNION ALL
        SELECT 2, b.Bezeichnung FROM main.Serverbook m JOIN backup.Serverbook b ON b.rowid = m.rowid
            WHERE m.Bezeichnung IS NOT b.Bezeichnung OR m.Servername IS NOT b.Servername
               OR m.Startverzeichnis IS NOT b.Startverzeichnis OR m.Plugindateiname IS NOT b.Plugindateiname)",
                                          &problem);
    if (!differences)
        throw StoreError::InBackup(path, problem);
    Difference difference;
    int step;
    while ((step = sqlite3_step(differences.get())) == SQLITE_ROW) {
        const auto change = Change(sqlite3_column_int(differences.get(), 0));
        ++(change == Change::Added ? difference.added : change == Change::Removed ? difference.removed : difference.changed);
        if (perRow)
            perRow(change, textOf(differences.get(), 1));
    }
    if (step != SQLITE_DONE)
        throw StoreError::InBackup(path, engineMessage(db.get(), step));
    return difference;
}
