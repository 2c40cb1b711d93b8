#include "userplugindir.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

QString UserPluginDir()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/ostrel/plugins");
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

} // namespace

bool PrepareUserPluginDir(const QString &dir, const QString &skeleton, QString *errorString)
{
    if (QFileInfo(dir).exists())
        return true;
    if (!makeFolders(dir, errorString))
        return false;
    QDirIterator files(skeleton, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString from = files.next();
        const QString to = dir + QLatin1Char('/') + QDir(skeleton).relativeFilePath(from);
        if (!makeFolders(QFileInfo(to).absolutePath(), errorString))
            return false;
        // The user's own from now on, and nobody else's to read.
        QFile source(from);
        if (source.copy(to) && QFile::setPermissions(to, QFile::ReadOwner | QFile::WriteOwner))
            continue;
        if (errorString)
            *errorString = QStringLiteral("%1 kann nicht nach %2 kopiert werden: %3")
                               .arg(QDir::toNativeSeparators(from), QDir::toNativeSeparators(to), source.errorString());
        return false;
    }
    return true;
}
