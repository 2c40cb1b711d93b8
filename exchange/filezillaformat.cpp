#include "filezillaformat.h"

#include <QBuffer>
#include <QXmlStreamReader>

using namespace Qt::StringLiterals;

namespace {

// FileZilla's protocol numbers and what they are to the book.
QString schemeOfProtocol(int protocol)
{
    switch (protocol) {
    case 0:  // FTP, with TLS if the server offers it
    case 6:  // plain FTP
        return QStringLiteral("ftp");
    case 4:  // FTP with explicit TLS, demanded
        return QStringLiteral("ftpes");
    case 3:  // FTP over implicit TLS
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
        if (!m_error.isEmpty())
            result.error = m_error;
        else if (m_xml.hasError())
            result.error = XmlProblem(m_xml);
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
        if (depth > kFileZillaMostFolders) {
            fail(located(m_xml, QStringLiteral("Ordner sind mehr als %1 Ebenen tief verschachtelt").arg(kFileZillaMostFolders)));
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
            const bool base64 = m_xml.attributes().value("encoding"_L1) == "base64"_L1;
            const QString text = elementText();
            if (element == QLatin1String("Host")) {
                site.host = text;
            } else if (element == QLatin1String("User")) {
                site.user = text;
            } else if (element == QLatin1String("Pass")) {
                // FileZilla writes it in base64, which hides nothing.
                site.password = base64 ? QString::fromUtf8(QByteArray::fromBase64(text.toLatin1())) : text;
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
        TakeCredentialsFromHost(site);
        if (site.port == StandardPort(site.scheme))
            site.port = 0;
        if (++m_siteCount > kMostSites)
            fail(QStringLiteral("Zeile %1: %2").arg(line).arg(TooManySites()));
        if (m_error.isEmpty())
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
                if (++depth == kFileZillaMostFolders + 1)
                    fail(located(m_xml, QStringLiteral("Elemente sind mehr als %1 Ebenen tief verschachtelt")
                                            .arg(kFileZillaMostFolders)));
            } else if (m_xml.isEndElement()) {
                --depth;
            }
        }
        return text;
    }

    // The first error is the one told; reading stops there.
    void fail(const QString &why)
    {
        if (m_error.isEmpty())
            m_error = why;
        m_xml.raiseError(why);
    }

    QXmlStreamReader m_xml;
    QString m_error;
    size_t m_siteCount = 0;
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
