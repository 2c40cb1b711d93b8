#include "userplugindir.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <cstdlib>
#include <sys/stat.h>

QString UserPluginDir()
{
    // A relative XDG_DATA_HOME is to be ignored: it would lead to a folder
    // wherever the program happens to be started, perhaps one of another user.
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (data.isEmpty() || QDir::isRelativePath(data))
        data = QDir::homePath() + QStringLiteral("/.local/share");
    return QDir::cleanPath(data) + QStringLiteral("/ostrel/plugins");
}

namespace {

// mkdir -p with the system's reason for the first folder that failed.
bool makeFolders(const QString &dir, QString *errorString)
{
    QString made;
    for (const QString &part : QDir::cleanPath(QDir(dir).absolutePath()).split(QLatin1Char('/'))) {
        made += part + QLatin1Char('/');
        if (QFileInfo(made).isDir())
            continue;
        if (::mkdir(QFile::encodeName(made).constData(), 0700) != 0 && errno != EEXIST) {
            if (errorString)
                *errorString = QStringLiteral("Der Ordner %1 kann nicht angelegt werden: %2")
                                   .arg(QDir::toNativeSeparators(QDir::cleanPath(made)),
                                        QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
    }
    return true;
}

// What first starts that were killed left: folders made under a name of
// their own and never renamed into place, once no start can still be
// filling them.
void removeLeftovers(const QString &parent, const QString &name)
{
    constexpr qint64 kLeftoverAfterSeconds = 10 * 60;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QFileInfoList made = QDir(parent).entryInfoList({name + QStringLiteral(".new-*")},
                                                          QDir::Dirs | QDir::Hidden | QDir::NoSymLinks);
    for (const QFileInfo &left : made) {
        if (left.lastModified().secsTo(now) > kLeftoverAfterSeconds)
            QDir(left.absoluteFilePath()).removeRecursively();
    }
}

bool fail(QString *errorString, const QString &why)
{
    if (errorString)
        *errorString = why;
    return false;
}

} // namespace

bool PrepareUserPluginDir(const QString &dir, const QString &skeleton, QString *errorString)
{
    const QFileInfo info(dir);
    if (info.exists())
        return true;
    if (info.isSymLink())
        return fail(errorString, QStringLiteral("Der Plug-in-Ordner %1 ist ein Verweis auf %2, den es nicht gibt; "
                                                "bitte den Verweis entfernen")
                                     .arg(QDir::toNativeSeparators(dir), info.symLinkTarget()));
    // Without the skeleton no folder is made, so that the next start, with
    // the skeleton back, makes it whole.
    if (!QFileInfo(skeleton).isDir())
        return fail(errorString, QStringLiteral("Die Vorlage %1 für einen neuen Plug-in-Ordner fehlt; bitte das "
                                                "Paket kelvo neu installieren")
                                     .arg(QDir::toNativeSeparators(skeleton)));
    const QString parent = info.absolutePath();
    if (!makeFolders(parent, errorString))
        return false;
    removeLeftovers(parent, info.fileName());
    // Made whole under a name of its own (mode 0700), then renamed into
    // place in one step: a start killed halfway leaves no half-made folder
    // at the path, and of two first starts at once the second finds the
    // first one's folder.
    QByteArray pattern = QFile::encodeName(parent + QLatin1Char('/') + info.fileName() + QStringLiteral(".new-XXXXXX"));
    if (!::mkdtemp(pattern.data()))
        return fail(errorString, QStringLiteral("Der Ordner %1 kann nicht angelegt werden: %2")
                                     .arg(QDir::toNativeSeparators(dir), QString::fromLocal8Bit(std::strerror(errno))));
    const QString made = QFile::decodeName(pattern);
    QDirIterator files(skeleton, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString from = files.next();
        const QString to = made + QLatin1Char('/') + QDir(skeleton).relativeFilePath(from);
        if (!makeFolders(QFileInfo(to).absolutePath(), errorString)) {
            QDir(made).removeRecursively();
            return false;
        }
        // The user's own from now on, and nobody else's to read.
        QFile source(from);
        if (source.copy(to) && QFile::setPermissions(to, QFile::ReadOwner | QFile::WriteOwner))
            continue;
        QDir(made).removeRecursively();
        return fail(errorString, QStringLiteral("%1 kann nicht nach %2 kopiert werden: %3")
                                     .arg(QDir::toNativeSeparators(from),
                                          QDir::toNativeSeparators(dir + QLatin1Char('/') + QDir(skeleton).relativeFilePath(from)),
                                          source.errorString()));
    }
    if (::rename(pattern.constData(), QFile::encodeName(dir).constData()) != 0) {
        const int renameError = errno;
        QDir(made).removeRecursively();
        if (QFileInfo(dir).isDir())
            return true;
        return fail(errorString, QStringLiteral("Der Ordner %1 kann nicht angelegt werden: %2")
                                     .arg(QDir::toNativeSeparators(dir), QString::fromLocal8Bit(std::strerror(renameError))));
    }
    return true;
}
