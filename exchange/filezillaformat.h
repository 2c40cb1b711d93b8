#pragma once

#include "foreignsite.h"

#include <QByteArray>
#include <QIODevice>
#include <QStringList>
#include <QXmlStreamWriter>

// FileZilla's site manager file (sitemanager.xml): <FileZilla3><Servers> with
// nested <Folder> elements and <Server> elements.
// The reader takes its input as it comes, holding only the sites.
bool LooksLikeFileZilla(const QByteArray &content);
ReadResult ReadFileZilla(QIODevice *input);
ReadResult ReadFileZilla(const QByteArray &content);
// Writes the entries FileZilla can hold (FTP, SFTP, HTTP, HTTPS addresses)
// to out as they are added, holding none of them: the same file as
// WriteFileZilla, at any size.
class CFileZillaWriter
{
public:
    explicit CFileZillaWriter(QIODevice *out);
    void Add(const BookEntry &entry);
    // Closes the open folders and the document.
    void Finish();
    // The entries left out, and those written otherwise than the book has them.
    int LeftOut() const { return m_leftOut; }
    QStringList Changed() const { return m_changed; }

private:
    QXmlStreamWriter m_xml;
    QStringList m_open;
    int m_leftOut = 0;
    QStringList m_changed;
};

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
