#pragma once

#include "foreignsite.h"

#include <QByteArray>
#include <QIODevice>
#include <QStringList>

// FileZilla's site manager file (sitemanager.xml): <FileZilla3><Servers> with
// nested <Folder> elements and <Server> elements.
// The reader takes its input as it comes, holding only the sites.
bool LooksLikeFileZilla(const QByteArray &content);
ReadResult ReadFileZilla(QIODevice *input);
ReadResult ReadFileZilla(const QByteArray &content);
// A reader takes folders nested this deep at the most: a label of the book
// could not hold more, and each level is one call deeper on the stack.
inline constexpr int kFileZillaMostFolders = 64;

// FileZilla keeps a remote directory as a length-prefixed path:
// "1 0 4 unix 4 path" is /unix/path; type 3 (DOS) "3 0 2 C: 7 windows" is
// C:\windows. Empty optional when the text is not such a path.
std::optional<QString> DecodeFileZillaPath(const QString &safePath);
QString EncodeFileZillaPath(const QString &path);
