#include "cbookbackups.h"

#include "bookfile.h"
#include "sqlite.h"
#include "storeerror.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QSet>
#include <QSysInfo>
#include <QTimeZone>

#include <sqlite3.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <tuple>

namespace {

// kelvo-YYYYMMDD-HHMMSSZ.mdb in UTC; older versions wrote the same without
// the Z, in local time.
const QRegularExpression kBackupName(QStringLiteral("^kelvo-(\\d{8}-\\d{6})(Z?)(?:-(\\d+))?\\.mdb$"));
// A backup being written, or one whose writer was killed.
// The writer's boot and process ID, then a random part; older versions
// wrote a UUID alone.
const QRegularExpression kPartName(QStringLiteral(
    "^\\.kelvo-backup-(?:([0-9a-f]{8})-(\\d+)-[0-9a-f]{12}|[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12})"
    "\\.part(?:-journal|-wal|-shm)?$"));
const char *const kStampFormat = "yyyyMMdd-HHmmss";
const QStringList kSideFiles = {QStringLiteral("-journal"), QStringLiteral("-wal"), QStringLiteral("-shm")};
// A copy takes seconds even for a very large book: one this old was cut short.
constexpr qint64 kLeftoverAfterSeconds = 10 * 60;

using Access = SqliteConnection::Access;

// Only a regular file, not a link, can be a backup: anything else another
// program put there (a pipe, a link to one) would block the reader that
// opens it.
bool isRegularFile(const QString &path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISREG(info.st_mode);
}

// This machine's running system, as the kernel names it: process IDs mean
// something only within it.
QString thisBoot()
{
    static const QString boot = QString::fromLatin1(QCryptographicHash::hash(QSysInfo::bootUniqueId(), QCryptographicHash::Sha1).toHex().left(8));
    return boot;
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
// rollback-journal file with the record of a backup; throws when it
// cannot. The file is closed when this returns.
void copy(const SqliteConnection &source, const QString &path, qint64 sequence)
{
    // Made first, with no more permissions than the book: a private book's
    // backups are as private (SQLite gives its journal the same).
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        throw StoreError::InBackup(path, QString::fromLocal8Bit(std::strerror(errno)));
    BookFile::KeepAsPrivate(source.File(), fd);
    ::close(fd);
    const SqliteConnection target(path, Access::Create, true);
    sqlite3_backup *backup = sqlite3_backup_init(target.Handle(), "main", source.Handle(), "main");
    if (!backup)
        target.Fail(sqlite3_errcode(target.Handle()));
    const int stepped = sqlite3_backup_step(backup, -1);
    const int finished = sqlite3_backup_finish(backup);
    if (stepped != SQLITE_DONE)
        throw StoreError::InBackup(path, ExplainEngineError(stepped, QString::fromUtf8(sqlite3_errstr(stepped))));
    if (finished != SQLITE_OK)
        target.Fail(finished);
    // A copy of a book in WAL mode says so in its header; as a plain
    // rollback-journal file it is read without a log beside it.
    // The record says which book it is a backup of, so that a backup folder
    // two books share (a link) never has one book's rotation count or remove
    // the other's backups.
    target.Exec("PRAGMA journal_mode = DELETE");
    target.Exec("BEGIN; DROP TABLE IF EXISTS kelvo_backup; "
                "CREATE TABLE kelvo_backup (made TEXT, sequence INTEGER, entries INTEGER, book TEXT)");
    SqliteStatement record = target.Prepare("INSERT INTO kelvo_backup SELECT ?, ?, count(*), ? FROM Serverbook");
    record.Bind(1, QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
    record.Bind(2, sequence);
    record.Bind(3, CBookBackups::BookIdentity(source.File()));
    record.Run();
    target.Exec("COMMIT");
}

} // namespace

QString CBookBackups::PartName(qint64 writer)
{
    return QStringLiteral(".kelvo-backup-%1-%2-%3.part")
        .arg(thisBoot())
        .arg(writer)
        .arg(QRandomGenerator::system()->generate64() & 0xFFFFFFFFFFFFull, 12, 16, QLatin1Char('0'));
}

QString CBookBackups::BookIdentity(const QString &storeFile)
{
    const QFileInfo book(storeFile);
    const QString canonical = book.canonicalFilePath();
    return canonical.isEmpty() ? book.absoluteFilePath() : canonical;
}

QString CBookBackups::Difference::Summary() const
{
    if (added == 0 && removed == 0 && changed == 0)
        return QStringLiteral("keine Unterschiede");
    return QStringLiteral("+%1 / \u2212%2 / %3 geändert").arg(added).arg(removed).arg(changed);
}

QString CBookBackups::Difference::InWords() const
{
    if (added == 0 && removed == 0 && changed == 0)
        return QStringLiteral("keine Unterschiede");
    return QStringLiteral("%1 %2 zurück, %3 %4, %5 geändert")
        .arg(added)
        .arg(added == 1 ? QStringLiteral("kommt") : QStringLiteral("kommen"))
        .arg(removed)
        .arg(removed == 1 ? QStringLiteral("geht") : QStringLiteral("gehen"))
        .arg(changed);
}

CBookBackups::CBookBackups(const QString &storeFile)
    : m_storeFile(storeFile), m_folder(QFileInfo(storeFile).absolutePath() + QStringLiteral("/backup"))
{
}

CBookBackups::Backup CBookBackups::inspect(const QString &name, Depth depth) const
{
    Backup backup{name, {}, 0, -1, {}, {}};
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
    if (!isRegularFile(path)) {
        backup.problem = QStringLiteral("Die Sicherung ist keine gewöhnliche Datei.");
        return backup;
    }
    try {
        const SqliteConnection db(path, Access::Immutable, true);
        if (depth == Depth::FullCheck) {
            QString verdict;
            try {
                SqliteStatement check = db.Prepare("PRAGMA quick_check");
                verdict = check.Step() ? check.Text(0) : QStringLiteral("keine Zeile");
            } catch (const StoreError &error) {
                verdict = error.cause();
            }
            if (verdict != QLatin1String("ok")) {
                backup.problem = QStringLiteral("Die Sicherung ist beschädigt (%1).").arg(verdict);
                return backup;
            }
        }
        db.Prepare("SELECT Bezeichnung, Servername, Startverzeichnis, Plugindateiname FROM Serverbook LIMIT 0");
        // A file without the record is not one of ours; any other failure
        // to read it is a broken backup.
        SqliteStatement record;
        try {
            record = db.Prepare("SELECT * FROM kelvo_backup");
        } catch (const StoreError &error) {
            if (!error.cause().contains(QLatin1String("no such table")))
                throw;
        }
        if (record) {
            if (!record.Step()) {
                backup.problem = QStringLiteral("keine Zeile");
                return backup;
            }
            backup.made = QDateTime::fromString(record.Text(0), Qt::ISODateWithMs).toUTC();
            backup.sequence = std::max<qint64>(1, record.Int64(1));
            backup.entries = int(record.Int64(2));
            // Backups of older versions name no book.
            if (record.ColumnCount() > 3)
                backup.book = record.Text(3);
            if (depth == Depth::Record)
                return backup;
        }
        const int counted = int(db.Int64Of("SELECT count(*) FROM Serverbook"));
        if (backup.ours() && counted != backup.entries)
            backup.problem = QStringLiteral("Die Sicherung ist unvollständig (%1 statt %2 Einträge).")
                                 .arg(counted)
                                 .arg(backup.entries);
        backup.entries = counted;
    } catch (const StoreError &error) {
        backup.problem = error.cause();
    }
    return backup;
}

std::vector<CBookBackups::Backup> CBookBackups::List() const
{
    std::vector<Backup> backups;
    for (const QString &name : QDir(m_folder).entryList(QDir::Files | QDir::System | QDir::NoSymLinks)) {
        if (kBackupName.match(name).hasMatch() && isRegularFile(m_folder + QLatin1Char('/') + name))
            backups.push_back(inspect(name, Depth::Record));
    }
    std::sort(backups.begin(), backups.end(), [](const Backup &a, const Backup &b) {
        return std::tie(a.sequence, a.made, a.name) < std::tie(b.sequence, b.made, b.name);
    });
    return backups;
}

QString CBookBackups::PathOf(const QString &name) const
{
    if (!kBackupName.match(name).hasMatch() || !isRegularFile(m_folder + QLatin1Char('/') + name))
        return {};
    return m_folder + QLatin1Char('/') + name;
}

CBookBackups::Backup CBookBackups::Inspect(const QString &name) const
{
    return inspect(name, Depth::FullCheck);
}

QString CBookBackups::Make(const SqliteConnection &source) const
{
    QDir().mkpath(m_folder);
    BookFile::KeepFolderAsPrivate(m_storeFile, m_folder);
    if (!QFileInfo(m_folder).isDir())
        throw StoreError(m_storeFile, QStringLiteral("Vor der Änderung muss eine Sicherung angelegt werden, "
                                                     "aber der Ordner %1 kann nicht angelegt werden; "
                                                     "nichts wurde geändert.")
                                          .arg(QDir::toNativeSeparators(m_folder)));
    qint64 sequence = 1;
    for (const Backup &backup : List())
        sequence = std::max(sequence, backup.sequence + 1);

    removeLeftovers();
    const QString part = m_folder + QLatin1Char('/') + PartName(QCoreApplication::applicationPid());
    auto fail = [&](const QString &cause) {
        removeWithSideFiles(part);
        throw StoreError(m_storeFile, QStringLiteral("Die Sicherung in %1 ist gescheitert (%2); nichts wurde geändert.")
                                          .arg(QDir::toNativeSeparators(m_folder), cause));
    };
    try {
        copy(source, part, sequence);
    } catch (const StoreError &error) {
        fail(error.cause());
    }

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
    const QString book = BookIdentity(m_storeFile);
    for (Backup &backup : List()) {
        if (backup.ours() && backup.complete() && (backup.book.isEmpty() || backup.book == book))
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
        if (const QRegularExpressionMatch part = kPartName.match(name); part.hasMatch()) {
            // A writer gone from this machine's running system finishes
            // nothing: its copy goes at once. One of another machine (a
            // shared folder) or an older version goes once it is too old
            // to be at work.
            const bool writerGone = part.captured(1) == thisBoot()
                                    && ::kill(pid_t(part.captured(2).toLongLong()), 0) != 0 && errno == ESRCH;
            if (writerGone || file.lastModified().secsTo(now) > kLeftoverAfterSeconds)
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
    const SqliteConnection db(m_storeFile, Access::ReadOnly);
    SqliteStatement attach = db.Prepare("ATTACH DATABASE ? AS backup");
    attach.BindUtf8(1, SqliteConnection::UriOf(path, Access::Immutable));
    try {
        attach.Run();
    } catch (const StoreError &error) {
        throw StoreError::InBackup(path, error.cause());
    }

    // Rows are matched by rowid, as the restore brings them back.
    try {
        SqliteStatement differences = db.Prepare(R"(
        SELECT 0, b.Bezeichnung FROM backup.Serverbook b
            WHERE NOT EXISTS (SELECT 1 FROM main.Serverbook m WHERE m.rowid = b.rowid)
        UNION ALL
        SELECT 1, m.Bezeichnung FROM main.Serverbook m
            WHERE NOT EXISTS (SELECT 1 FROM backup.Serverbook b WHERE b.rowid = m.rowid)
        UNION ALL
        SELECT 2, b.Bezeichnung FROM main.Serverbook m JOIN backup.Serverbook b ON b.rowid = m.rowid
            WHERE m.Bezeichnung IS NOT b.Bezeichnung OR m.Servername IS NOT b.Servername
               OR m.Startverzeichnis IS NOT b.Startverzeichnis OR m.Plugindateiname IS NOT b.Plugindateiname)");
        Difference difference;
        while (differences.Step()) {
            const auto change = Change(differences.Int64(0));
            ++(change == Change::Added ? difference.added : change == Change::Removed ? difference.removed : difference.changed);
            if (perRow)
                perRow(change, differences.Text(1));
        }
        return difference;
    } catch (const StoreError &error) {
        throw StoreError::InBackup(path, error.cause());
    }
}
