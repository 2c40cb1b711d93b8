#include "foldertrust.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

namespace {

QString judged(const QString &folder, bool itself)
{
    struct stat info {};
    if (::stat(QFile::encodeName(folder).constData(), &info) != 0)
        return {};
    const QString shown = QDir::toNativeSeparators(folder);
    if (info.st_uid != ::geteuid() && info.st_uid != 0)
        return QStringLiteral("Der Ordner %1 gehört einem anderen Benutzer; aus ihm wird nichts geladen und in ihn "
                              "nichts geschrieben. Bitte einen eigenen Ordner wählen (--plugin-dir).")
            .arg(shown);
    // A group of the user's own (a user private group) is the user.
    const bool othersWrite = (info.st_mode & S_IWOTH) || ((info.st_mode & S_IWGRP) && info.st_gid != ::getegid());
    const bool sticky = info.st_mode & S_ISVTX;
    if (othersWrite && (itself || !sticky))
        return QStringLiteral("In den Ordner %1 dürfen auch andere Benutzer schreiben; aus ihm wird nichts geladen "
                              "und in ihn nichts geschrieben. Abhilfe: chmod go-w %2")
            .arg(shown, folder);
    return {};
}

} // namespace

QString WhyNotTrusted(const QString &folder, const QString &stopAt)
{
    QString at = QFileInfo(folder).canonicalFilePath();
    if (at.isEmpty())
        return {};
    const QString stop = stopAt.isEmpty() ? QString() : QFileInfo(stopAt).canonicalFilePath();
    for (bool itself = true;; itself = false) {
        if (const QString why = judged(at, itself); !why.isEmpty())
            return why;
        const QString above = QFileInfo(at).absolutePath();
        if (at == stop || above == at)
            return {};
        at = above;
    }
}
