#pragma once

#include "filezillaformat.h"

#include <QByteArray>
#include <QStringList>

#include <vector>

// Appends the entries FileZilla can hold (FTP, SFTP, HTTP, HTTPS addresses)
// to out as they are added, as XML indented as FileZilla writes it: the
// same file as WriteFileZilla, at any size. The caller empties out as it
// likes between entries.
class CFileZillaWriter
{
public:
    explicit CFileZillaWriter(QByteArray *out);
    void Add(const BookEntry &entry);
    // Closes the open folders and the document.
    void Finish();
    // The entries left out, and those written otherwise than the book has them.
    int LeftOut() const { return m_leftOut; }
    QStringList Changed() const;

private:
    // XML indented as QXmlStreamWriter's auto-formatting does it, which is
    // how FileZilla's own files look.
    void startElement(QLatin1StringView tag);
    void attribute(QLatin1StringView name, QLatin1StringView value);
    void characters(QStringView text);
    void endElement(QLatin1StringView tag);
    void appendEscaped(QStringView text);
    void newLine(qsizetype depth);
    bool closeStartTag(bool withContent);

    QByteArray *m_out;
    qsizetype m_depth = 0;        // elements open
    bool m_inStartTag = false;    // attributes may follow
    bool m_afterStartTag = false; // nothing since the last start tag
    bool m_afterContent = false;  // text since the last tag
    QStringList m_open;           // the folders open, outermost first
    int m_leftOut = 0;
    QStringList m_changed;
    // Entries an import would read back otherwise, and the first of them.
    static constexpr int kNotKeptNamed = 5;
    int m_notKept = 0;
    QStringList m_notKeptNamed;
};

// Writes the entries FileZilla can hold (FTP, SFTP, HTTP, HTTPS addresses);
// *leftOut counts the others, such as local paths. What is written reads
// back to the same entries, except those named in *changed, one line each
// with the reason (control characters, which XML cannot hold, are left out).
QByteArray WriteFileZilla(const std::vector<BookEntry> &entries, int *leftOut, QStringList *changed);
