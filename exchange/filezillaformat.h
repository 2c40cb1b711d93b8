#pragma once

#include "foreignsite.h"

#include <QByteArray>
#include <QStringList>

// FileZilla's site manager file (sitemanager.xml): <FileZilla3><Servers> with
// nested <Folder> elements and <Server> elements.
bool LooksLikeFileZilla(const QByteArray &content);
ReadResult ReadFileZilla(const QByteArray &content);
// Writes the entries FileZilla can hold (FTP, SFTP, HTTP, HTTPS addresses);
// *leftOut counts the others, such as local paths. What is written reads
// back to the same entries, except those named in *changed, one line each
// with the reason (control characters, which XML cannot hold, are left out).
QByteArray WriteFileZilla(const std::vector<BookEntry> &entries, int *leftOut, QStringList *changed);

// FileZilla keeps a remote directory as a length-prefixed path:
// "1 0 4 unix 4 path" is /unix/path; type 3 (DOS) "3 0 2 C: 7 windows" is
// C:\windows. Empty optional when the text is not such a path.
std::optional<QString> DecodeFileZillaPath(const QString &safePath);
QString EncodeFileZillaPath(const QString &path);
