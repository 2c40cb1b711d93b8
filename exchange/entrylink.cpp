#include "entrylink.h"

#include "pluginapi.h"

#include <QDir>
#include <QUrl>

namespace {

bool isLocalPath(const QString &text)
{
    return text.startsWith(QLatin1Char('/'));
}

QString asFolder(QString path)
{
    if (!path.startsWith(QLatin1Char('/')))
        path.prepend(QLatin1Char('/'));
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path;
}

// A local path's entry: the root as address and the path as start path,
// as the file worker's template has it, named after its last folder.
BookEntry localEntry(const QString &path, const std::vector<WorkerInfo> &workers)
{
    const QString clean = QDir::cleanPath(path);
    const QString name = clean.section(QLatin1Char('/'), -1, -1, QString::SectionSkipEmpty);
    return {0, name.isEmpty() ? clean : name, QStringLiteral("/"), clean, WorkerFor(Service::File, workers)};
}

} // namespace

QString LinkOfEntry(const QString &server, const QString &startDir)
{
    const QString trimmed = server.trimmed();
    if (isLocalPath(trimmed)) {
        const QString path = trimmed == QLatin1String("/") && isLocalPath(startDir) ? startDir : trimmed;
        return QUrl::fromLocalFile(asFolder(QDir::cleanPath(path))).toString(QUrl::FullyEncoded);
    }
    QUrl url(trimmed, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty())
        return {};
    const QString start = startDir.trimmed();
    if ((url.path().isEmpty() || url.path() == QLatin1String("/")) && !start.isEmpty() && start != QLatin1String("/"))
        url.setPath(asFolder(start));
    return url.toString(QUrl::FullyEncoded);
}

std::optional<BookEntry> EntryOfLink(const QString &text, const std::vector<WorkerInfo> &workers, QString *reason,
                                     QString *password)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || trimmed.contains(QLatin1Char('\n'))) {
        *reason = QStringLiteral("In der Zwischenablage steht keine einzelne Adresse.");
        return std::nullopt;
    }
    const QUrl url(trimmed, QUrl::StrictMode);
    if (isLocalPath(trimmed) || (url.isValid() && url.isLocalFile())) {
        const QString path = isLocalPath(trimmed) ? trimmed : url.toLocalFile();
        if (const QString control = ControlCharacterIn(path); !control.isEmpty()) {
            *reason = QStringLiteral("Aus \"%1\" lässt sich kein Eintrag machen: der Pfad enthält das Steuerzeichen %2.")
                          .arg(Printable(trimmed.left(80)), control);
            return std::nullopt;
        }
        return localEntry(path, workers);
    }
    if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty()) {
        *reason = QStringLiteral("\"%1\" ist keine Adresse (etwa ftp://server/pfad/ oder ein lokaler Pfad).")
                      .arg(Printable(trimmed.left(80)));
        return std::nullopt;
    }
    // The user name goes with the address, the password to the caller.
    ForeignSite site;
    site.user = url.userName(QUrl::FullyDecoded);
    *password = url.password(QUrl::FullyDecoded);
    site.scheme = url.scheme().toLower();
    site.host = url.host(QUrl::FullyEncoded);
    site.port = url.port(0);
    site.remoteDir = url.path(QUrl::FullyDecoded);
    site.label = url.host(QUrl::FullyDecoded);
    QString why;
    std::optional<BookEntry> entry = EntryOfSite(site, workers, true, &why);
    if (!entry)
        *reason = QStringLiteral("Aus \"%1\" lässt sich kein Eintrag machen: %2.")
                      .arg(url.toDisplayString(QUrl::RemoveUserInfo), why);
    return entry;
}
