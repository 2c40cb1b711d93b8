#include "filezillawriter.h"

#include <QUrl>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <type_traits>

using namespace Qt::StringLiterals;

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
    if (!clean || parts.size() < 2 || parts.size() - 1 > kFileZillaMostFolders)
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
    return url.password().isEmpty() && (url.path().isEmpty() || url.path() == QLatin1String("/")) && !url.hasQuery()
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
    const QString user = plain ? QString() : url.userName(QUrl::FullyDecoded);
    const int protocol = scheme == QLatin1String("ftp")     ? 0
                         : scheme == QLatin1String("ftps")  ? 3
                         : scheme == QLatin1String("ftpes") ? 4
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
    m_out->resize(at + kMostBytesPerUnit * (host.size() + user.size() + name.size() + remoteDir.size()) + 9 * indent
                  + 256);
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
    // FileZilla asks for what the book does not hold: the password ("Ask"),
    // or user and password ("Interactive").
    if (!user.isEmpty())
        element("User"_L1, QStringView(user));
    element("Logontype"_L1, user.isEmpty() ? "3"_L1 : "2"_L1);
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
                                        "kommen nur Protokoll, Server, Port, Benutzer und ein absolutes Startverzeichnis, "
                                        "kein Pfad in der Adresse (%2%3)")
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
