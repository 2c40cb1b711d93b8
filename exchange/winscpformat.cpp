#include "winscpformat.h"

#include <QBuffer>
#include <QStringDecoder>

#include <algorithm>
#include <cctype>

namespace {

const QByteArray kSessionsPrefix = "[Sessions\\";
const QByteArray kUtf8Bom = "\xEF\xBB\xBF";

// Nearly every value: ASCII without an escape, the same text in every code page.
bool isPlainAscii(QByteArrayView escaped)
{
    return std::all_of(escaped.begin(), escaped.end(), [](char c) { return c != '%' && uchar(c) < 0x80; });
}

// Undoes WinSCP's %XX escaping: exactly two hex digits, and never a NUL,
// which no text of a site holds. Newer files mark UTF-8 text with an
// escaped byte order mark; older ones hold Windows-1252 bytes. Empty, with
// the reason in *why, when the text is not one WinSCP writes.
std::optional<QString> unescape(QByteArrayView escaped, QString *why)
{
    if (isPlainAscii(escaped))
        return QString::fromLatin1(escaped);
    QByteArray bytes;
    bytes.reserve(escaped.size());
    for (qsizetype i = 0; i < escaped.size(); ++i) {
        if (escaped[i] != '%') {
            bytes += escaped[i];
            continue;
        }
        const QByteArray digits = escaped.sliced(i + 1).first(std::min<qsizetype>(2, escaped.size() - i - 1)).toByteArray();
        if (digits.size() != 2 || !isxdigit(uchar(digits[0])) || !isxdigit(uchar(digits[1]))) {
            *why = QStringLiteral("ungültige %-Folge \"%%1\"").arg(Printable(QString::fromLatin1(digits)));
            return std::nullopt;
        }
        const char byte = char(digits.toInt(nullptr, 16));
        if (byte == 0) {
            *why = QStringLiteral("%00 (ein Nullzeichen) im Text");
            return std::nullopt;
        }
        bytes += byte;
        i += 2;
    }
    if (bytes.startsWith(kUtf8Bom)) {
        QStringDecoder utf8(QStringDecoder::Utf8);
        const QString text = utf8(bytes.mid(kUtf8Bom.size()));
        if (utf8.hasError()) {
            *why = QStringLiteral("als UTF-8 markiert, aber kein gültiges UTF-8");
            return std::nullopt;
        }
        return text;
    }
    // Plain ASCII, nearly every value, reads the same in every code page.
    if (std::all_of(bytes.cbegin(), bytes.cend(), [](char c) { return uchar(c) < 0x80; }))
        return QString::fromLatin1(bytes);
    QStringDecoder windows1252("windows-1252");
    if (!windows1252.isValid())
        return QString::fromLatin1(bytes);
    return QString(windows1252(bytes));
}

// WinSCP's FSProtocol and Ftps keys, as a scheme.
QString schemeOf(int fsProtocol, int ftps)
{
    switch (fsProtocol) {
    case 0:
        return QStringLiteral("scp");
    case 1:
    case 2:
        return QStringLiteral("sftp");
    case 5:  // FTP: Ftps=1 implicit TLS, 2 and 3 explicit TLS
        return ftps == 1 ? QStringLiteral("ftps") : ftps >= 2 ? QStringLiteral("ftpes") : QStringLiteral("ftp");
    case 6:
        return ftps != 0 ? QStringLiteral("davs") : QStringLiteral("dav");
    case 7:
        return QStringLiteral("s3");
    default:
        return QStringLiteral("WinSCP-Protokoll %1").arg(fsProtocol);
    }
}

// The keys of a session that make its site; others are checked, not kept.
// Keys left out of the file have their defaults.
struct Session {
    QString name;
    qsizetype line = 0;
    QString fsProtocol, ftps, port, host, user, remoteDir;

    QString *valueOf(QByteArrayView key)
    {
        static const struct {
            QByteArrayView key;
            QString Session::*value;
        } kept[] = {{"HostName", &Session::host}, {"PortNumber", &Session::port},
                    {"FSProtocol", &Session::fsProtocol}, {"Ftps", &Session::ftps}, {"UserName", &Session::user},
                    {"RemoteDirectory", &Session::remoteDir}};
        for (const auto &[name, value] : kept) {
            if (key == name)
                return &(this->*value);
        }
        return nullptr;
    }
};

// The site a session makes, added to sites; the error otherwise.
QString siteOf(const Session &session, std::vector<ForeignSite> *sites)
{
    auto number = [](const QString &text, int fallback, bool *ok) { return text.isEmpty() ? fallback : text.toInt(ok); };
    bool ok = true;
    const int fsProtocol = number(session.fsProtocol, 2, &ok);
    const int ftps = number(session.ftps, 0, &ok);
    ForeignSite site;
    site.port = number(session.port, 0, &ok);
    if (!ok || site.port < 0 || site.port > 65535)
        return QStringLiteral("Zeile %1: Sitzung \"%2\" hat eine ungültige Zahl").arg(session.line).arg(Printable(session.name));
    site.label = session.name;
    site.scheme = schemeOf(fsProtocol, ftps);
    site.host = session.host;
    // WinSCP's own Password= is obfuscated with a key of its own; only a
    // user name is taken.
    site.user = session.user;
    TakeCredentialsFromHost(site);
    site.remoteDir = session.remoteDir;
    if (site.port == StandardPort(site.scheme))
        site.port = 0;
    if (sites->size() >= kMostSites)
        return QStringLiteral("Zeile %1: %2").arg(session.line).arg(TooManySites());
    sites->push_back(std::move(site));
    return {};
}

// The next line of input into line, reusing its memory; false at the end.
bool readLineInto(QIODevice *input, QByteArray &line)
{
    line.truncate(0);
    char chunk[4096];
    for (;;) {
        const qint64 got = input->readLine(chunk, sizeof chunk);
        if (got <= 0)
            return !line.isEmpty();
        line.append(chunk, got);
        if (chunk[got - 1] == '\n' || got < qint64(sizeof chunk) - 1)
            return true;
    }
}

} // namespace

bool LooksLikeWinScp(const QByteArray &content)
{
    for (const QByteArray &line : content.split('\n')) {
        const QByteArray trimmed = line.trimmed();
        if (trimmed.startsWith(kSessionsPrefix) || trimmed.startsWith("[Configuration\\"))
            return true;
    }
    return false;
}

ReadResult ReadWinScp(const QByteArray &content)
{
    QBuffer buffer;
    buffer.setData(content);
    buffer.open(QIODevice::ReadOnly);
    return ReadWinScp(&buffer);
}

ReadResult ReadWinScp(QIODevice *input)
{
    ReadResult result;
    // The session whose keys follow; none in other sections. Each session
    // becomes a site once its section ends, so only one is held as text.
    std::optional<Session> current;
    QString problem;
    const auto finish = [&result, &current, &problem] {
        if (current && problem.isEmpty())
            problem = siteOf(*current, &result.sites);
        current.reset();
    };
    QByteArray read;
    for (qsizetype number = 1; problem.isEmpty() && readLineInto(input, read); ++number) {
        QByteArrayView line = QByteArrayView(read).trimmed();
        if (number == 1 && line.startsWith(kUtf8Bom))
            line = line.sliced(kUtf8Bom.size());
        if (line.isEmpty() || line.startsWith(';') || line.startsWith('#'))
            continue;
        if (line.startsWith('[')) {
            if (!line.endsWith(']'))
                return {{}, QStringLiteral("Zeile %1: Abschnitt ohne \"]\"").arg(number)};
            finish();
            if (!line.startsWith(kSessionsPrefix))
                continue;
            QString why;
            const std::optional<QString> name = unescape(line.sliced(kSessionsPrefix.size()).chopped(1), &why);
            if (!name)
                return {{}, QStringLiteral("Zeile %1: ungültiger Sitzungsname: %2").arg(number).arg(why)};
            // Not a site: the defaults that new sites start from.
            if (*name == QLatin1String("Default Settings"))
                continue;
            current.emplace();
            current->name = *name;
            current->line = number;
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (equals <= 0)
            return {{}, QStringLiteral("Zeile %1: weder Abschnitt noch Schlüssel=Wert").arg(number)};
        if (!current)
            continue;
        // Every value must be one WinSCP writes; only those of the site are kept.
        const QByteArrayView escaped = line.sliced(equals + 1);
        QString *kept = current->valueOf(line.first(equals).trimmed());
        if (!kept && isPlainAscii(escaped))
            continue;
        QString why;
        const std::optional<QString> value = unescape(escaped, &why);
        if (!value)
            return {{}, QStringLiteral("Zeile %1: ungültiger Wert: %2").arg(number).arg(why)};
        if (kept)
            *kept = *value;
    }
    finish();
    if (!problem.isEmpty())
        return {{}, problem};
    return result;
}
