#include "cbookbackups.h"

#include "storeerror.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <sqlite3.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <tuple>

namespace {

const QRegularExpression kBackupName(QStringLiteral("^kelvo-(\\d{8}-\\d{6})(?:-(\\d+))?\\.mdb$"));

// Orders backups by the time in their name, then by their suffix.
struct SortKey {
    QString stamp;
    int suffix;
    bool operator<(const SortKey &other) const
    {
        return std::tie(stamp, suffix) < std::tie(other.stamp, other.suffix);
    }
};

std::optional<SortKey> sortKeyOf(const QString &name)
{
    const QRegularExpressionMatch match = kBackupName.match(name);
    if (!match.hasMatch())
        return std::nullopt;
    return SortKey{match.captured(1), match.captured(2).isEmpty() ? 1 : match.captured(2).toInt()};
}

} // namespace

CBookBackups::CBookBackups(const QString &storeFile)
    : m_storeFile(storeFile), m_folder(QFileInfo(storeFile).absolutePath() + QStringLiteral("/backup"))
{
}

std::vector<CBookBackups::Backup> CBookBackups::List() const
{
    std::vector<std::pair<SortKey, QString>> named;
    for (const QString &name : QDir(m_folder).entryList(QDir::Files)) {
        if (const auto key = sortKeyOf(name))
            named.emplace_back(*key, name);
    }
    std::sort(named.begin(), named.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    std::vector<Backup> backups;
    for (const auto &[key, name] : named)
        backups.push_back({name, QDateTime::fromString(key.stamp, QStringLiteral("yyyyMMdd-HHmmss"))});
    return backups;
}

QString CBookBackups::PathOf(const QString &name) const
{
    if (!sortKeyOf(name) || !QFileInfo(m_folder + QLatin1Char('/') + name).isFile())
        return {};
    return m_folder + QLatin1Char('/') + name;
}

QString CBookBackups::Make(sqlite3 *source) const
{
    if (!QDir().mkpath(m_folder))
        throw StoreError(m_storeFile, QStringLiteral("Vor der Änderung muss eine Sicherung angelegt werden, "
                                                     "aber der Ordner %1 kann nicht angelegt werden; "
                                                     "nichts wurde geändert.")
                                          .arg(QDir::toNativeSeparators(m_folder)));
    // A name nobody has, claimed by creating the file exclusively, and later
    // than every backup of the same second, even one rotated away already.
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    int firstSuffix = 1;
    for (const QString &existing : QDir(m_folder).entryList(QDir::Files)) {
        if (const auto key = sortKeyOf(existing); key && key->stamp == stamp)
            firstSuffix = std::max(firstSuffix, key->suffix + 1);
    }
    QString name, path;
    for (int suffix = firstSuffix;; ++suffix) {
        name = suffix == 1 ? QStringLiteral("kelvo-%1.mdb").arg(stamp) : QStringLiteral("kelvo-%1-%2.mdb").arg(stamp).arg(suffix);
        path = m_folder + QLatin1Char('/') + name;
        QFile claim(path);
        if (claim.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            break;
        if (!claim.exists() || suffix > firstSuffix + 1000)
            throw StoreError(m_storeFile, QStringLiteral("Die Sicherung %1 kann nicht angelegt werden (%2); "
                                                         "nichts wurde geändert.")
                                              .arg(QDir::toNativeSeparators(path), claim.errorString()));
    }

    auto fail = [&](const QString &cause) {
        QFile::remove(path);
        throw StoreError(m_storeFile, QStringLiteral("Die Sicherung %1 ist gescheitert (%2); nichts wurde geändert.")
                                          .arg(QDir::toNativeSeparators(path), cause));
    };
    sqlite3 *target = nullptr;
    const QByteArray nativePath = QFile::encodeName(path);
    const int opened = sqlite3_open_v2(nativePath.constData(), &target, SQLITE_OPEN_READWRITE, nullptr);
    std::unique_ptr<sqlite3, int (*)(sqlite3 *)> closer(target, sqlite3_close);
    if (opened != SQLITE_OK)
        fail(QString::fromUtf8(target ? sqlite3_errmsg(target) : sqlite3_errstr(opened)));
    sqlite3_backup *backup = sqlite3_backup_init(target, "main", source, "main");
    if (!backup)
        fail(QString::fromUtf8(sqlite3_errmsg(target)));
    const int stepped = sqlite3_backup_step(backup, -1);
    sqlite3_backup_finish(backup);
    if (stepped != SQLITE_DONE)
        fail(ExplainEngineError(stepped, QString::fromUtf8(sqlite3_errstr(stepped))));
    closer.reset();

    // Only after a good copy do the oldest go.
    const std::vector<Backup> backups = List();
    for (size_t i = 0; i + kKept < backups.size(); ++i)
        QFile::remove(m_folder + QLatin1Char('/') + backups[i].name);
    return name;
}

int CBookBackups::EntriesIn(const QString &name) const
{
    const QString path = PathOf(name);
    if (path.isEmpty())
        return -1;
    sqlite3 *db = nullptr;
    const int opened = sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    std::unique_ptr<sqlite3, int (*)(sqlite3 *)> closer(db, sqlite3_close);
    sqlite3_stmt *count = nullptr;
    if (opened != SQLITE_OK
        || sqlite3_prepare_v2(db, "SELECT count(*) FROM Serverbook", -1, &count, nullptr) != SQLITE_OK)
        return -1;
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt *)> finalizer(count, sqlite3_finalize);
    return sqlite3_step(count) == SQLITE_ROW ? sqlite3_column_int(count, 0) : -1;
}
