#include "siteimport.h"

#include "cserverbookstore.h"
#include "cyberduckformat.h"
#include "filezillaformat.h"
#include "pluginapi.h"
#include "winscpformat.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <algorithm>

namespace {

// Larger files are no site lists; reading them would only cost memory.
constexpr qint64 kMaxFileSize = 16 * 1024 * 1024;
constexpr int kMaxTextChars = CServerBookStore::kMaxTextChars;

// The address scheme a site gets in the book, and the service that serves it.
struct BookProtocol {
    QString scheme;
    int service = 0;
};

std::optional<BookProtocol> bookProtocolOf(const QString &scheme)
{
    if (scheme == QLatin1String("ftp") || scheme == QLatin1String("ftps"))
        return BookProtocol{QStringLiteral("ftp"), Service::Ftp};
    if (scheme == QLatin1String("http") || scheme == QLatin1String("dav"))
        return BookProtocol{QStringLiteral("http"), Service::Http};
    if (scheme == QLatin1String("https") || scheme == QLatin1String("davs"))
        return BookProtocol{QStringLiteral("https"), Service::Https};
    // Kept as they are, for workers that may come; no worker here serves them.
    if (scheme == QLatin1String("sftp") || scheme == QLatin1String("scp") || scheme == QLatin1String("s3"))
        return BookProtocol{scheme, 0};
    return std::nullopt;
}

// Start directories compare without a closing separator: FileZilla keeps none.
QString comparable(const QString &dir)
{
    if (dir.size() > 1 && (dir.endsWith(QLatin1Char('/')) || dir.endsWith(QLatin1Char('\\')))
        && !dir.endsWith(QLatin1String(":\\")))
        return dir.chopped(1);
    return dir;
}

bool sameEntry(const BookEntry &a, const BookEntry &b)
{
    return a.label == b.label && a.server == b.server && comparable(a.startDir) == comparable(b.startDir)
           && a.pluginFile == b.pluginFile;
}

ReadResult readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {{}, QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), file.errorString())};
    if (file.size() > kMaxFileSize)
        return {{}, QStringLiteral("%1: zu groß für eine Liste von Servern").arg(QDir::toNativeSeparators(path))};
    const QByteArray content = file.readAll();
    ReadResult result;
    if (LooksLikeFileZilla(content))
        result = ReadFileZilla(content);
    else if (LooksLikeCyberduck(content))
        result = ReadCyberduck(content);
    else if (LooksLikeWinScp(content))
        result = ReadWinScp(content);
    else
        result.error = QStringLiteral("kein bekanntes Format (FileZilla, WinSCP oder Cyberduck)");
    if (!result.ok())
        result.error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), result.error);
    return result;
}

// The entry a site becomes; an empty optional with *reason when it cannot.
std::optional<BookEntry> entryOf(const ForeignSite &site, const std::vector<WorkerInfo> &workers,
                                 bool keepUnmatched, QString *reason)
{
    const std::optional<BookProtocol> protocol = bookProtocolOf(site.scheme);
    if (!protocol) {
        *reason = QStringLiteral("%1 hat keine Adresse im Serverbook").arg(site.scheme);
        return std::nullopt;
    }
    // Credentials stay behind, also when the host name carries them.
    QString host = site.host.trimmed();
    host = host.mid(host.lastIndexOf(QLatin1Char('@')) + 1);
    QUrl url;
    url.setScheme(protocol->scheme);
    url.setHost(host, QUrl::StrictMode);
    const int port = site.port ? site.port : StandardPort(site.scheme);
    if (port && port != StandardPort(protocol->scheme))
        url.setPort(port);
    url.setPath(QStringLiteral("/"));
    if (host.isEmpty() || !url.isValid() || url.host().isEmpty()) {
        *reason = QStringLiteral("kein gültiger Servername \"%1\"").arg(site.host);
        return std::nullopt;
    }

    BookEntry entry;
    entry.label = site.label.isEmpty() ? host : site.label;
    entry.server = url.toString(QUrl::FullyEncoded);
    entry.startDir = site.remoteDir.isEmpty() ? QStringLiteral("/") : site.remoteDir;
    const auto worker = std::find_if(workers.cbegin(), workers.cend(), [&protocol](const WorkerInfo &w) {
        return protocol->service && w.service == protocol->service;
    });
    if (worker != workers.cend()) {
        entry.pluginFile = worker->fileName;
    } else if (!keepUnmatched) {
        *reason = QStringLiteral("kein geladener Publishing-Worker für %1").arg(site.scheme);
        return std::nullopt;
    }
    for (const QString &text : {entry.label, entry.server, entry.startDir}) {
        if (text.size() > kMaxTextChars) {
            *reason = QStringLiteral("ein Text ist länger als %1 Zeichen").arg(kMaxTextChars);
            return std::nullopt;
        }
    }
    return entry;
}

} // namespace

int ImportPlan::importedCount() const
{
    return int(std::count_if(items.cbegin(), items.cend(), [](const ImportItem &item) { return item.imported; }));
}

ReadResult ReadSitesFrom(const QString &path)
{
    if (!QFileInfo(path).isDir())
        return readFile(path);
    ReadResult all;
    const QDir folder(path);
    // A link that leads nowhere is listed too (System), so that it fails the
    // import by name instead of leaving its site out unsaid.
    for (const QString &name : folder.entryList({QStringLiteral("*.duck")}, QDir::Files | QDir::System, QDir::Name)) {
        ReadResult one = readFile(folder.filePath(name));
        if (!one.ok())
            return one;
        std::move(one.sites.begin(), one.sites.end(), std::back_inserter(all.sites));
    }
    return all;
}

ImportPlan PlanImport(const QStringList &paths, const std::vector<WorkerInfo> &workers,
                      const std::vector<BookEntry> &book, bool keepUnmatched)
{
    ImportPlan plan;
    std::vector<BookEntry> known = book;
    for (const QString &path : paths) {
        ReadResult read = ReadSitesFrom(path);
        if (!read.ok())
            return {{}, read.error};
        for (ForeignSite &site : read.sites) {
            ImportItem item;
            item.site = std::move(site);
            if (const std::optional<BookEntry> entry = entryOf(item.site, workers, keepUnmatched, &item.reason)) {
                item.entry = *entry;
                const bool duplicate = std::any_of(known.cbegin(), known.cend(),
                                                   [&entry](const BookEntry &k) { return sameEntry(k, *entry); });
                if (duplicate) {
                    item.reason = QStringLiteral("schon im Serverbook");
                } else {
                    item.imported = true;
                    known.push_back(*entry);
                }
            }
            plan.items.push_back(std::move(item));
        }
    }
    return plan;
}
