#include "siteimport.h"

#include "addresscredentials.h"
#include "cserverbookstore.h"
#include "cyberduckformat.h"
#include "filezillaformat.h"
#include "pluginapi.h"
#include "winscpformat.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSet>
#include <QUrl>

#include <algorithm>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Far larger than any client's site list (FileZilla's file for 100,000
// sites has about 40 MB); a larger file is no site list. The readers hold
// only the sites, not the file.
constexpr qint64 kMaxFileSize = qint64(1) << 30;
// A Cyberduck bookmark is one site of a few hundred bytes, read whole.
constexpr qint64 kMaxBookmarkSize = 1024 * 1024;
constexpr int kMaxTextChars = CServerBookStore::kMaxTextChars;

// The address scheme a site gets in the book, and the service that serves it.
struct BookProtocol {
    QString scheme;
    int service = 0;
};

std::optional<BookProtocol> bookProtocolOf(const QString &scheme)
{
    // FTP keeps the encryption a site demands: over implicit TLS (ftps) or
    // with explicit TLS (ftpes), which a worker follows from the address.
    if (scheme == QLatin1String("ftp") || scheme == QLatin1String("ftps") || scheme == QLatin1String("ftpes"))
        return BookProtocol{scheme, Service::Ftp};
    if (scheme == QLatin1String("gopher"))
        return BookProtocol{scheme, Service::Gopher};
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
QStringView comparable(QStringView dir)
{
    if (dir.size() > 1 && (dir.endsWith(QLatin1Char('/')) || dir.endsWith(QLatin1Char('\\')))
        && !dir.endsWith(QLatin1String(":\\")))
        return dir.chopped(1);
    return dir;
}

// An entry as an import compares it: by its four texts, the start directory
// without a closing separator. Held by address, so that the set of entries
// seen keeps no text of its own.
struct ComparedEntry {
    const BookEntry *entry;
    friend bool operator==(ComparedEntry a, ComparedEntry b)
    {
        return a.entry->label == b.entry->label && a.entry->server == b.entry->server
               && comparable(a.entry->startDir) == comparable(b.entry->startDir)
               && a.entry->pluginFile == b.entry->pluginFile;
    }
};

size_t qHash(ComparedEntry compared, size_t hashSeed)
{
    const BookEntry &entry = *compared.entry;
    return qHashMulti(hashSeed, entry.label, entry.server, comparable(entry.startDir), entry.pluginFile);
}

// A site list as its reader reads it: straight from the file, counting the
// bytes that came (a file that gives more or fewer than its size was
// changed meanwhile) and telling progress as they come.
class CountingInput : public QIODevice
{
public:
    CountingInput(int fd, qint64 size, const ReadProgress &progress) : m_size(size), m_progress(progress)
    {
        m_file.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::DontCloseHandle);
        open(QIODevice::ReadOnly);
    }
    bool isSequential() const override { return true; }
    // A sequential device is at its end when nothing is buffered and no
    // more can come: only once the file said so.
    qint64 bytesAvailable() const override
    {
        return QIODevice::bytesAvailable() + (m_atFileEnd ? 0 : std::max<qint64>(m_size - m_read, 1));
    }
    qint64 bytesRead() const { return m_read; }
    QString problem() const { return m_problem; }

protected:
    qint64 readData(char *data, qint64 most) override
    {
        // One byte past the size at most, so that a file grown meanwhile shows.
        const qint64 got = m_file.read(data, std::min(most, m_size + 1 - m_read));
        if (got < 0)
            m_problem = m_file.errorString();
        if (got < 0 || (got == 0 && most > 0))
            m_atFileEnd = true;
        if (got > 0) {
            m_read += got;
            if (m_progress)
                m_progress(m_read, m_size);
        }
        return got;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QFile m_file;
    qint64 m_size;
    qint64 m_read = 0;
    bool m_atFileEnd = false;
    const ReadProgress &m_progress;
    QString m_problem;
};

// Enough of a file's beginning to tell its format by.
constexpr qint64 kFormatBytes = 1024 * 1024;

// Reads a site list once, as it comes: only a regular file (a link to a
// device or a pipe would read without end, or wait), no larger than
// kMaxFileSize, and the same file of the same size and time after the
// reading as before, so that a file its owner rewrites meanwhile is refused
// instead of imported cut short.
ReadResult readFile(const QString &path, const ReadProgress &progress)
{
    const auto failed = [&path](const QString &why) {
        return ReadResult{{}, QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), why)};
    };
    const QByteArray native = QFile::encodeName(path);
    struct stat before {};
    if (::stat(native.constData(), &before) != 0)
        return failed(qt_error_string(errno));
    if (!S_ISREG(before.st_mode))
        return failed(QStringLiteral("keine gewöhnliche Datei (ein Gerät, eine Pipe oder ein Ordner)"));
    if (before.st_size > kMaxFileSize)
        return failed(QStringLiteral("zu groß für eine Liste von Servern"));
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return failed(qt_error_string(errno));
    const auto closer = qScopeGuard([fd] { ::close(fd); });

    CountingInput input(fd, qint64(before.st_size), progress);
    const QByteArray head = input.peek(kFormatBytes);
    ReadResult result;
    // No site list holds a NUL byte; the XML reader would only call it unexpected.
    if (const qsizetype nul = head.indexOf('\0'); nul >= 0)
        result.error = QStringLiteral("Zeile %1: ein Nullbyte (\\x00), das in keiner Serverliste stehen kann")
                           .arg(head.left(nul).count('\n') + 1);
    else if (LooksLikeFileZilla(head))
        result = ReadFileZilla(&input);
    else if (LooksLikeCyberduck(head) && before.st_size > kMaxBookmarkSize)
        result.error = QStringLiteral("zu groß für ein Cyberduck-Lesezeichen");
    else if (LooksLikeCyberduck(head))
        result = ReadCyberduck(input.readAll());
    else if (LooksLikeWinScp(head))
        result = ReadWinScp(&input);
    else
        result.error = QStringLiteral("kein bekanntes Format (FileZilla, WinSCP oder Cyberduck)");
    if (!input.problem().isEmpty())
        return failed(input.problem());

    // What the reader left unread counts too: a file changed meanwhile is
    // said to be so, whatever its reader made of it.
    while (!input.atEnd() && !input.read(64 * 1024).isEmpty()) {
    }
    struct stat opened {}, again {};
    const auto same = [&before](const struct stat &other) {
        return other.st_dev == before.st_dev && other.st_ino == before.st_ino && other.st_size == before.st_size
               && other.st_mtim.tv_sec == before.st_mtim.tv_sec && other.st_mtim.tv_nsec == before.st_mtim.tv_nsec;
    };
    if (::fstat(fd, &opened) != 0 || ::stat(native.constData(), &again) != 0 || !same(opened) || !same(again)
        || input.bytesRead() != before.st_size)
        return failed(QStringLiteral("wurde während des Lesens geändert; bitte noch einmal importieren, "
                                     "wenn das Programm, dem sie gehört, fertig ist"));
    if (!result.ok())
        return failed(result.error);
    return result;
}

// Adds the sites of one to all; false when all would hold more than
// kMostSites.
bool takeSites(ReadResult &all, ReadResult &&one)
{
    if (all.sites.size() + one.sites.size() > kMostSites)
        return false;
    if (all.sites.empty())
        all.sites = std::move(one.sites);
    else
        std::move(one.sites.begin(), one.sites.end(), std::back_inserter(all.sites));
    return true;
}

} // namespace

QString WorkerFor(int service, const std::vector<WorkerInfo> &workers)
{
    const auto worker = std::find_if(workers.cbegin(), workers.cend(),
                                     [service](const WorkerInfo &w) { return service && w.service == service; });
    return worker != workers.cend() ? worker->fileName : QString();
}

int ServiceOfAddress(const QString &address)
{
    const qsizetype separator = address.indexOf(QLatin1String("://"));
    if (separator < 0 || address.startsWith(QLatin1String("file:"), Qt::CaseInsensitive))
        return Service::File;
    const std::optional<BookProtocol> protocol = bookProtocolOf(address.left(separator).toLower());
    return protocol ? protocol->service : 0;
}

std::optional<BookEntry> EntryOfSite(const ForeignSite &site, const std::vector<WorkerInfo> &workers,
                                     bool keepUnmatched, QString *reason)
{
    const std::optional<BookProtocol> protocol = bookProtocolOf(site.scheme);
    if (!protocol) {
        *reason = QStringLiteral("%1 hat keine Adresse im Serverbook").arg(site.scheme);
        return std::nullopt;
    }
    const QString &host = site.host;
    const int port = site.port ? site.port : StandardPort(site.scheme);
    const int shownPort = port != StandardPort(protocol->scheme) ? port : 0;
    QString server;
    if (IsPlainHostName(host)) {
        // As QUrl writes it, without the cost of QUrl: most sites are so.
        server.reserve(protocol->scheme.size() + host.size() + 10);
        server.append(protocol->scheme).append(QLatin1String("://")).append(host);
        if (shownPort)
            server.append(u':').append(QString::number(shownPort));
        server.append(u'/');
    } else {
        QUrl url;
        url.setScheme(protocol->scheme);
        url.setHost(host, QUrl::StrictMode);
        if (shownPort)
            url.setPort(shownPort);
        url.setPath(QStringLiteral("/"));
        if (host.isEmpty() || !url.isValid() || url.host().isEmpty()) {
            *reason = QStringLiteral("kein gültiger Servername \"%1\"").arg(site.host);
            return std::nullopt;
        }
        server = url.toString(QUrl::FullyEncoded);
    }

    BookEntry entry;
    entry.label = site.label.isEmpty() ? host : site.label;
    // The user name goes with the address; the password never does.
    entry.server = site.user.isEmpty() ? server : WithUser(server, site.user);
    entry.startDir = site.remoteDir.isEmpty() ? QStringLiteral("/") : site.remoteDir;
    entry.pluginFile = WorkerFor(protocol->service, workers);
    if (entry.pluginFile.isEmpty() && !keepUnmatched) {
        *reason = QStringLiteral("kein geladener Publishing-Worker für %1").arg(site.scheme);
        return std::nullopt;
    }
    for (const QString &text : {entry.label, entry.server, entry.startDir}) {
        if (text.size() > kMaxTextChars) {
            *reason = QStringLiteral("ein Text ist länger als %1 Zeichen").arg(kMaxTextChars);
            return std::nullopt;
        }
        if (const QString control = ControlCharacterIn(text); !control.isEmpty()) {
            *reason = QStringLiteral("ein Text enthält das Steuerzeichen %1").arg(control);
            return std::nullopt;
        }
    }
    return entry;
}

int ImportPlan::importedCount() const
{
    return int(std::count_if(items.cbegin(), items.cend(), [](const ImportItem &item) { return item.imported; }));
}

std::vector<std::array<QString, 4>> ImportPlan::rows() const
{
    std::vector<std::array<QString, 4>> rows;
    rows.reserve(size_t(importedCount()));
    for (const ImportItem &item : items) {
        if (item.imported)
            rows.push_back({item.entry.label, item.entry.server, item.entry.startDir, item.entry.pluginFile});
    }
    return rows;
}

ReadResult ReadSitesFrom(const QString &path, const ReadProgress &progress)
{
    if (!QFileInfo(path).isDir())
        return readFile(path, progress);
    ReadResult all;
    const QDir folder(path);
    // A link that leads nowhere is listed too (System), so that it fails the
    // import by name instead of leaving its site out unsaid.
    for (const QString &name : folder.entryList({QStringLiteral("*.duck")}, QDir::Files | QDir::System, QDir::Name)) {
        ReadResult one = readFile(folder.filePath(name), progress);
        if (!one.ok())
            return one;
        if (!takeSites(all, std::move(one)))
            return {{}, QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), TooManySites())};
    }
    return all;
}

ReadResult ReadSites(const QStringList &paths, const ReadProgress &progress)
{
    ReadResult all;
    for (const QString &path : paths) {
        ReadResult read = ReadSitesFrom(path, progress);
        if (!read.ok())
            return read;
        if (!takeSites(all, std::move(read)))
            return {{}, QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), TooManySites())};
    }
    return all;
}

ImportPlan PlanImport(std::vector<ForeignSite> sites, const std::vector<WorkerInfo> &workers,
                      const std::vector<BookEntry> &book, bool keepUnmatched)
{
    ImportPlan plan;
    // Reserved whole, so that the entries seen stay where they are.
    plan.items.reserve(sites.size());
    QSet<ComparedEntry> seen;
    seen.reserve(qsizetype(book.size() + sites.size()));
    for (const BookEntry &entry : book)
        seen.insert({&entry});
    for (ForeignSite &site : sites) {
        // Each site's texts go as it is planned; its entry shares what it keeps.
        ForeignSite taken = std::exchange(site, {});
        taken.label = LabelWithoutCredentials(taken.label, taken.host);
        ImportItem &item = plan.items.emplace_back();
        item.entry.label = taken.label;
        item.password = std::move(taken.password);
        if (std::optional<BookEntry> entry = EntryOfSite(taken, workers, keepUnmatched, &item.reason)) {
            item.entry = std::move(*entry);
            const qsizetype before = seen.size();
            seen.insert({&item.entry});
            item.imported = seen.size() > before;
            if (!item.imported)
                item.reason = QStringLiteral("schon im Serverbook");
        }
    }
    return plan;
}

ImportPlan PlanImport(const QStringList &paths, const std::vector<WorkerInfo> &workers,
                      const std::vector<BookEntry> &book, bool keepUnmatched)
{
    ReadResult read = ReadSites(paths);
    if (!read.ok())
        return {{}, read.error};
    return PlanImport(std::move(read.sites), workers, book, keepUnmatched);
}
