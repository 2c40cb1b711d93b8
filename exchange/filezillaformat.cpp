#include "filezillaformat.h"

#include <QBuffer>
#include <QUrl>
#include <QXmlStreamReader>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <type_traits>

using namespace Qt::StringLiterals;

namespace {

// FileZilla's protocol numbers and what they are to the book.
QString schemeOfProtocol(int protocol)
{
    switch (protocol) {
    case 0:  // FTP, with TLS if the server offers it
    case 4:  // FTP with explicit TLS
    case 6:  // plain FTP
        return QStringLiteral("ftp");
    case 3:
        return QStringLiteral("ftps");
    case 1:
        return QStringLiteral("sftp");
    case 2:
        return QStringLiteral("http");
    case 5:
        return QStringLiteral("https");
    case 7:
        return QStringLiteral("s3");
    case 9:
        return QStringLiteral("davs");
    case 19:
        return QStringLiteral("dav");
    default:
        return QStringLiteral("FileZilla-Protokoll %1").arg(protocol);
    }
}

// FileZilla's server types whose paths are DOS paths (C:\dir).
constexpr int kDosType = 3;
constexpr int kDosVirtualType = 8;
constexpr int kDosForwardSlashesType = 10;

// Deeper than any label of the book could show ("a/b/…" within 128 characters).
constexpr int kMaxFolderDepth = 64;

QString located(const QXmlStreamReader &xml, const QString &what)
{
    return QStringLiteral("Zeile %1: %2").arg(xml.lineNumber()).arg(what);
}

class Reader
{
public:
    explicit Reader(QIODevice *input) : m_xml(input) {}

    ReadResult read()
    {
        ReadResult result;
        if (!m_xml.readNextStartElement() || m_xml.name() != QLatin1String("FileZilla3")) {
            result.error = m_xml.hasError() ? XmlProblem(m_xml)
                                            : located(m_xml, QStringLiteral("keine FileZilla-Datei (FileZilla3 fehlt)"));
            return result;
        }
        while (m_xml.readNextStartElement()) {
            if (m_xml.name() == QLatin1String("Servers"))
                readContainer(result.sites);
            else
                m_xml.skipCurrentElement();
        }
        if (m_xml.hasError())
            result.error = XmlProblem(m_xml);
        else if (!m_error.isEmpty())
            result.error = m_error;
        if (!result.ok())
            result.sites.clear();
        return result;
    }

private:
    // Reads the children of Servers or of a Folder, up to its end.
    void readContainer(std::vector<ForeignSite> &sites)
    {
        while (m_xml.readNextStartElement()) {
            if (m_xml.name() == QLatin1String("Folder"))
                readFolder(sites);
            else if (m_xml.name() == QLatin1String("Server"))
                readServer(sites);
            else
                m_xml.skipCurrentElement();
        }
    }

    // A folder's name is its own text, between its child elements. Folders
    // nest only so deep: a label of the book could not hold more, and each
    // level is one call deeper on the host's stack.
    void readFolder(std::vector<ForeignSite> &sites, int depth = 1)
    {
        if (depth > kMaxFolderDepth) {
            fail(located(m_xml, QStringLiteral("Ordner sind mehr als %1 Ebenen tief verschachtelt").arg(kMaxFolderDepth)));
            m_xml.skipCurrentElement();
            return;
        }
        QString name;
        std::vector<ForeignSite> inside;
        while (!m_xml.atEnd()) {
            m_xml.readNext();
            if (m_xml.isCharacters())
                name += m_xml.text();
            else if (m_xml.isEndElement())
                break;
            else if (m_xml.isStartElement() && m_xml.name() == QLatin1String("Folder"))
                readFolder(inside, depth + 1);
            else if (m_xml.isStartElement() && m_xml.name() == QLatin1String("Server"))
                readServer(inside);
            else if (m_xml.isStartElement())
                m_xml.skipCurrentElement();
        }
        name = name.trimmed();
        for (ForeignSite &site : inside) {
            site.label = name + QLatin1Char('/') + site.label;
            sites.push_back(std::move(site));
        }
    }

    void readServer(std::vector<ForeignSite> &sites)
    {
        ForeignSite site;
        QString strayName, name;
        int protocol = 0;
        const qint64 line = m_xml.lineNumber();
        while (!m_xml.atEnd()) {
            m_xml.readNext();
            if (m_xml.isCharacters()) {
                strayName += m_xml.text();  // old files: the name as text of Server
                continue;
            }
            if (m_xml.isEndElement())
                break;
            if (!m_xml.isStartElement())
                continue;
            const QString element = m_xml.name().toString();
            const QString text = elementText();
            if (element == QLatin1String("Host")) {
                site.host = HostWithoutCredentials(text);
            } else if (element == QLatin1String("Port")) {
                bool ok = false;
                site.port = text.trimmed().toInt(&ok);
                if (!ok || site.port < 0 || site.port > 65535)
                    fail(QStringLiteral("Zeile %1: ungültiger Port \"%2\"").arg(line).arg(Printable(text)));
            } else if (element == QLatin1String("Protocol")) {
                bool ok = false;
                protocol = text.trimmed().toInt(&ok);
                if (!ok)
                    fail(QStringLiteral("Zeile %1: ungültiges Protokoll \"%2\"").arg(line).arg(Printable(text)));
            } else if (element == QLatin1String("Name")) {
                name = text;
            } else if (element == QLatin1String("RemoteDir") && !text.isEmpty()) {
                const std::optional<QString> dir = DecodeFileZillaPath(text);
                if (!dir)
                    fail(QStringLiteral("Zeile %1: ungültiges Verzeichnis \"%2\"").arg(line).arg(Printable(text)));
                site.remoteDir = dir.value_or(QString());
            }
        }
        site.label = name.isEmpty() ? strayName.trimmed() : name;
        site.scheme = schemeOfProtocol(protocol);
        if (site.port == StandardPort(site.scheme))
            site.port = 0;
        sites.push_back(std::move(site));
    }

    // The text of the current element with that of the elements inside it,
    // read without recursion: however deep another program nested them, the
    // host's stack does not grow, and nesting deeper than any site list
    // needs is an error with its line.
    QString elementText()
    {
        QString text;
        for (int depth = 1; depth > 0 && !m_xml.atEnd();) {
            m_xml.readNext();
            if (m_xml.isCharacters()) {
                text += m_xml.text();
            } else if (m_xml.isStartElement()) {
                if (++depth == kMaxFolderDepth + 1)
                    fail(located(m_xml, QStringLiteral("Elemente sind mehr als %1 Ebenen tief verschachtelt")
                                            .arg(kMaxFolderDepth)));
            } else if (m_xml.isEndElement()) {
                --depth;
            }
        }
        return text;
    }

    void fail(const QString &why)
    {
        if (m_error.isEmpty())
            m_error = why;
    }

    QXmlStreamReader m_xml;
    QString m_error;
};

// Reads a decimal number at pos followed by a space or the end.
std::optional<int> readNumber(const QString &text, qsizetype &pos)
{
    const qsizetype start = pos;
    while (pos < text.size() && text[pos].isDigit() && pos - start < 6)
        ++pos;
    if (pos == start || (pos < text.size() && text[pos] != QLatin1Char(' ')))
        return std::nullopt;
    const int number = text.mid(start, pos - start).toInt();
    if (pos < text.size())
        ++pos;
    return number;
}

} // namespace

bool LooksLikeFileZilla(const QByteArray &content)
{
    // Also a broken file: its reader then says what is wrong, and where.
    return content.contains("<FileZilla3");
}

ReadResult ReadFileZilla(QIODevice *input)
{
    return Reader(input).read();
}

ReadResult ReadFileZilla(const QByteArray &content)
{
    QBuffer buffer;
    buffer.setData(content);
    buffer.open(QIODevice::ReadOnly);
    return ReadFileZilla(&buffer);
}

std::optional<QString> DecodeFileZillaPath(const QString &safePath)
{
    qsizetype pos = 0;
    const std::optional<int> type = readNumber(safePath, pos);
    const std::optional<int> prefixLength = type ? readNumber(safePath, pos) : std::nullopt;
    if (!prefixLength || pos + *prefixLength > safePath.size())
        return std::nullopt;
    // A VMS-style prefix, of no use to the book.
    pos += *prefixLength;
    if (*prefixLength > 0 && pos < safePath.size())
        ++pos;
    QStringList segments;
    while (pos < safePath.size()) {
        const std::optional<int> length = readNumber(safePath, pos);
        if (!length || *length == 0 || pos + *length > safePath.size())
            return std::nullopt;
        segments << safePath.mid(pos, *length);
        pos += *length;
        if (pos < safePath.size()) {
            if (safePath[pos] != QLatin1Char(' '))
                return std::nullopt;
            ++pos;
        }
    }
    if (*type == kDosType || *type == kDosVirtualType) {
        const QString path = segments.join(QLatin1Char('\\'));
        return segments.size() == 1 ? path + QLatin1Char('\\') : path;
    }
    if (*type == kDosForwardSlashesType) {
        const QString path = segments.join(QLatin1Char('/'));
        return segments.size() == 1 ? path + QLatin1Char('/') : path;
    }
    return QLatin1Char('/') + segments.join(QLatin1Char('/'));
}

QString EncodeFileZillaPath(const QString &path)
{
    // A drive letter makes it a DOS path; everything else is a Unix path.
    const bool dos = path.size() >= 2 && path[0].isLetter() && path[1] == QLatin1Char(':');
    QString encoded = dos ? QStringLiteral("3 0") : QStringLiteral("1 0");
    encoded.reserve(path.size() + 16);
    for (qsizetype start = 0; start < path.size();) {
        qsizetype end = start;
        while (end < path.size() && path[end] != u'/' && path[end] != u'\\')
            ++end;
        if (end > start) {
            encoded += u' ';
            encoded += QString::number(end - start);
            encoded += u' ';
            encoded += QStringView(path).mid(start, end - start);
        }
        start = end + 1;
    }
    return encoded;
}

namespace {

// The folders a label names before its last "/", when reading them back
// gives the same label: no empty names, none with space at an end, and no
// deeper than a reader takes. Otherwise the whole label is the site's name.
QStringList foldersOf(const QString &label)
{
    if (!label.contains(u'/'))
        return {};
    QStringList parts = label.split(QLatin1Char('/'));
    const bool clean = std::all_of(parts.cbegin(), parts.cend(),
                                   [](const QString &part) { return !part.isEmpty() && part.trimmed() == part; });
    if (!clean || parts.size() < 2 || parts.size() - 1 > kMaxFolderDepth)
        return {};
    parts.removeLast();
    return parts;
}

// At most this many bytes stand for one UTF-16 unit in the file: an escaped
// quote, "&quot;". A character outside ASCII takes three at most.
constexpr qsizetype kMostBytesPerUnit = 6;

char *put(char *cursor, QLatin1StringView text)
{
    std::memcpy(cursor, text.data(), size_t(text.size()));
    return cursor + text.size();
}

// Writes text as UTF-8 with what XML needs escaped in text, and the quote,
// escaped as Qt escapes them; a lone surrogate becomes "?", as in toUtf8().
char *putEscaped(char *cursor, QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        if (u < 0x80) {
            switch (u) {
            case u'<': cursor = put(cursor, "&lt;"_L1); break;
            case u'>': cursor = put(cursor, "&gt;"_L1); break;
            case u'&': cursor = put(cursor, "&amp;"_L1); break;
            case u'"': cursor = put(cursor, "&quot;"_L1); break;
            default: *cursor++ = char(u);
            }
        } else if (u < 0x800) {
            *cursor++ = char(0xC0 | u >> 6);
            *cursor++ = char(0x80 | (u & 0x3F));
        } else if (QChar::isHighSurrogate(u) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            const char32_t code = QChar::surrogateToUcs4(u, text[++i].unicode());
            *cursor++ = char(0xF0 | code >> 18);
            *cursor++ = char(0x80 | (code >> 12 & 0x3F));
            *cursor++ = char(0x80 | (code >> 6 & 0x3F));
            *cursor++ = char(0x80 | (code & 0x3F));
        } else if (QChar::isSurrogate(u)) {
            *cursor++ = '?';
        } else {
            *cursor++ = char(0xE0 | u >> 12);
            *cursor++ = char(0x80 | (u >> 6 & 0x3F));
            *cursor++ = char(0x80 | (u & 0x3F));
        }
    }
    return cursor;
}

bool isControl(QChar c)
{
    return c.unicode() < 0x20 || c.unicode() == 0x7F || c.isNonCharacter();
}

// A text as XML can hold it: without control characters, which XML 1.0
// forbids or a reader turns into others (a carriage return comes back as a
// line feed). Notes in *removed when there were any.
QString withoutControls(const QString &text, bool *removed)
{
    if (std::none_of(text.begin(), text.end(), isControl))
        return text;
    QString kept;
    kept.reserve(text.size());
    for (const QChar c : text) {
        if (isControl(c))
            *removed = true;
        else
            kept += c;
    }
    return kept;
}

// Whether an import of what the writer makes of an address gives the same
// address back. FileZilla keeps its protocol, host and port, which come back
// as one address (case, the standard port, "/" at the end and a host in ACE
// aside), and nothing else: no path, query, fragment or user.
bool addressKept(const QString &server, const std::optional<PlainAddress> &plain, const QUrl &url)
{
    if (plain) {
        const qsizetype path = server.indexOf(u'/', server.indexOf(QLatin1String("://")) + 3);
        return path < 0 || QStringView(server).mid(path) == u"/";
    }
    return url.userInfo().isEmpty() && (url.path().isEmpty() || url.path() == QLatin1String("/")) && !url.hasQuery()
           && !url.hasFragment();
}

// The same for a start directory: FileZilla keeps no "/" at the end, which
// an import counts as the same directory, and none is "/".
bool startDirKept(const QString &startDir, const QString &remoteDir)
{
    // Most are absolute folders that come back as they are.
    if (startDir.startsWith(u'/') && !startDir.contains(QLatin1String("//")) && !startDir.contains(u'\\'))
        return true;
    const auto comparable = [](QString dir) {
        if (dir.isEmpty())
            return QStringLiteral("/");
        if (dir.size() > 1 && dir.endsWith(QLatin1Char('/')))
            dir.chop(1);
        return dir;
    };
    const std::optional<QString> back = DecodeFileZillaPath(remoteDir);
    return back && comparable(*back) == comparable(startDir);
}

} // namespace

CFileZillaWriter::CFileZillaWriter(QByteArray *out) : m_out(out)
{
    *m_out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
    startElement("FileZilla3"_L1);
    // FileZilla warns about files from versions newer than itself; this one
    // only uses what FileZilla has read for many years.
    attribute("version"_L1, "3.30.0"_L1);
    startElement("Servers"_L1);
}

void CFileZillaWriter::Add(const BookEntry &entry)
{
    // Most addresses are plain enough to take apart without QUrl, which
    // would cost more than all the rest of an entry.
    const std::optional<PlainAddress> plain = ParsePlainAddress(entry.server);
    const QUrl url = plain ? QUrl() : QUrl(entry.server, QUrl::StrictMode);
    const QString scheme = plain ? plain->scheme : url.scheme().toLower();
    const QString host = plain ? plain->host.toString() : url.host();
    const int protocol = scheme == QLatin1String("ftp")     ? 0
                         : scheme == QLatin1String("sftp")  ? 1
                         : scheme == QLatin1String("http")  ? 2
                         : scheme == QLatin1String("https") ? 5
                                                            : -1;
    if (protocol < 0 || host.isEmpty()) {
        ++m_leftOut;
        return;
    }
    const int port = plain ? (plain->port < 0 ? StandardPort(scheme) : plain->port) : url.port(StandardPort(scheme));
    bool removed = false;
    const QString label = withoutControls(entry.label, &removed);
    const QString startDir = withoutControls(entry.startDir, &removed);
    if (removed)
        m_changed << QStringLiteral("Eintrag %1 \"%2\": Steuerzeichen weggelassen, die FileZillas Datei nicht "
                                    "aufnehmen kann").arg(entry.ordinal).arg(Printable(entry.label));
    const QString remoteDir = EncodeFileZillaPath(startDir);
    // What an import would read back otherwise than the book holds it is
    // counted and named, never changed silently.
    if (!addressKept(entry.server, plain, url) || !startDirKept(startDir, remoteDir)) {
        if (m_notKept++ < kNotKeptNamed)
            m_notKeptNamed << QStringLiteral("Eintrag %1 \"%2\"").arg(entry.ordinal).arg(Printable(entry.label));
    }
    // Entries keep their order; neighbours in the same folders share them.
    const QStringList folders = foldersOf(label);
    qsizetype shared = 0;
    while (shared < m_open.size() && shared < folders.size() && m_open[shared] == folders[shared])
        ++shared;
    for (; m_open.size() > shared; m_open.removeLast())
        endElement("Folder"_L1);
    for (; m_open.size() < folders.size(); m_open << folders[m_open.size()]) {
        startElement("Folder"_L1);
        attribute("expanded"_L1, "1"_L1);
        characters(folders[m_open.size()]);
    }
    // The server's elements as startElement, characters and endElement
    // would write them, written straight into room made for them at once:
    // every entry is one, and small appends cost more than the rest.
    if (!closeStartTag(false))
        newLine(m_depth);
    const QStringView name = folders.isEmpty() ? QStringView(label) : QStringView(label).mid(label.lastIndexOf(u'/') + 1);
    const qsizetype indent = 1 + 4 * (m_depth + 1);
    const qsizetype at = m_out->size();
    m_out->resize(at + kMostBytesPerUnit * (host.size() + name.size() + remoteDir.size()) + 8 * indent + 256);
    char *cursor = m_out->data() + at;
    const auto element = [&cursor, indent](QLatin1StringView tag, auto text) {
        *cursor++ = '\n';
        std::memset(cursor, ' ', size_t(indent - 1));
        cursor += indent - 1;
        *cursor++ = '<';
        cursor = put(cursor, tag);
        *cursor++ = '>';
        if constexpr (std::is_same_v<decltype(text), QStringView>)
            cursor = putEscaped(cursor, text);
        else
            cursor = put(cursor, text);
        cursor = put(cursor, "</"_L1);
        cursor = put(cursor, tag);
        *cursor++ = '>';
    };
    char number[8];
    cursor = put(cursor, "<Server>"_L1);
    element("Host"_L1, QStringView(host));
    element("Port"_L1, QLatin1StringView(number, std::to_chars(number, number + sizeof number, port).ptr));
    element("Protocol"_L1, QLatin1StringView(number, std::to_chars(number, number + sizeof number, protocol).ptr));
    element("Type"_L1, "0"_L1);
    // Interactive: FileZilla asks for user and password, which the book never keeps.
    element("Logontype"_L1, "3"_L1);
    element("Name"_L1, name);
    element("RemoteDir"_L1, QStringView(remoteDir));
    *cursor++ = '\n';
    std::memset(cursor, ' ', size_t(indent - 5));
    cursor += indent - 5;
    cursor = put(cursor, "</Server>"_L1);
    m_out->truncate(cursor - m_out->constData());
    m_afterStartTag = m_afterContent = false;
}

QStringList CFileZillaWriter::Changed() const
{
    if (m_notKept == 0)
        return m_changed;
    return m_changed
           + QStringList{QStringLiteral("%1 Einträge hält FileZilla nicht genau so, wie das Serverbook sie hat: zurück "
                                        "kommen nur Protokoll, Server, Port und ein absolutes Startverzeichnis, kein Pfad "
                                        "und kein Benutzer in der Adresse (%2%3)")
                             .arg(m_notKept)
                             .arg(m_notKeptNamed.join(QStringLiteral(", ")), m_notKept > kNotKeptNamed ? QStringLiteral(", …") : QString())};
}

void CFileZillaWriter::Finish()
{
    for (; !m_open.isEmpty(); m_open.removeLast())
        endElement("Folder"_L1);
    endElement("Servers"_L1);
    endElement("FileZilla3"_L1);
    *m_out += '\n';
}

// A start tag goes on a line of its own unless text came just before it;
// the tag stays open for attributes until something follows.
void CFileZillaWriter::startElement(QLatin1StringView tag)
{
    if (!closeStartTag(false))
        newLine(m_depth);
    *m_out += '<';
    *m_out += tag;
    m_inStartTag = m_afterStartTag = true;
    ++m_depth;
}

void CFileZillaWriter::attribute(QLatin1StringView name, QLatin1StringView value)
{
    *m_out += ' ';
    *m_out += name;
    *m_out += "=\"";
    *m_out += value;
    *m_out += '"';
}

void CFileZillaWriter::characters(QStringView text)
{
    closeStartTag(true);
    appendEscaped(text);
}

void CFileZillaWriter::appendEscaped(QStringView text)
{
    const qsizetype at = m_out->size();
    m_out->resize(at + kMostBytesPerUnit * text.size());
    m_out->truncate(putEscaped(m_out->data() + at, text) - m_out->constData());
}

// An element without content closes its start tag; one whose last content
// was an element ends on a line of its own.
void CFileZillaWriter::endElement(QLatin1StringView tag)
{
    --m_depth;
    if (m_inStartTag) {
        *m_out += "/>";
        m_inStartTag = m_afterStartTag = false;
        return;
    }
    if (!closeStartTag(false) && !m_afterStartTag)
        newLine(m_depth);
    *m_out += "</";
    *m_out += tag;
    *m_out += '>';
    m_afterStartTag = false;
}

void CFileZillaWriter::newLine(qsizetype depth)
{
    static constexpr char kIndents[] = "\n                                                                ";
    constexpr qsizetype kMostSpaces = sizeof kIndents - 2;
    if (4 * depth <= kMostSpaces) {
        m_out->append(kIndents, 1 + 4 * depth);
    } else {
        *m_out += '\n';
        m_out->append(4 * depth, ' ');
    }
}

// Ends an open start tag; whether text came last before this.
bool CFileZillaWriter::closeStartTag(bool withContent)
{
    const bool afterContent = m_afterContent;
    m_afterContent = withContent;
    if (m_inStartTag) {
        *m_out += '>';
        m_inStartTag = false;
    }
    return afterContent;
}

QByteArray WriteFileZilla(const std::vector<BookEntry> &entries, int *leftOut, QStringList *changed)
{
    QByteArray out;
    CFileZillaWriter writer(&out);
    for (const BookEntry &entry : entries)
        writer.Add(entry);
    writer.Finish();
    if (leftOut)
        *leftOut = writer.LeftOut();
    if (changed)
        *changed << writer.Changed();
    return out;
}
