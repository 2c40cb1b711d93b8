#include "afxparseurl.h"

#include <QUrl>

namespace {

struct Scheme {
    const char *name;
    ServiceCode service;
    quint16 defaultPort;
    bool hasServer;  // written as scheme://server/...
};

constexpr Scheme kSchemes[] = {
    {"ftp", Service::Ftp, 21, true},          {"gopher", Service::Gopher, 70, true},
    // FTP over implicit TLS, and with explicit TLS demanded: FTP to a worker.
    {"ftps", Service::Ftp, 990, true},        {"ftpes", Service::Ftp, 21, true},
    {"http", Service::Http, 80, true},        {"https", Service::Https, 443, true},
    {"file", Service::File, 0, false},        {"mailto", Service::Mailto, 0, false},
    {"mid", Service::Mid, 0, false},          {"cid", Service::Cid, 0, false},
    {"news", Service::News, 0, false},        {"nntp", Service::Nntp, 119, true},
    {"prospero", Service::Prospero, 1525, true}, {"telnet", Service::Telnet, 23, true},
    {"wais", Service::Wais, 210, true},       {"afs", Service::Afs, 0, true},
};

const Scheme *findScheme(QStringView name)
{
    for (const Scheme &scheme : kSchemes) {
        if (name.compare(QLatin1String(scheme.name), Qt::CaseInsensitive) == 0)
            return &scheme;
    }
    return nullptr;
}

bool isAsciiLetter(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

bool hasControlCharacter(QStringView text)
{
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c < u' ' || c == u'\x7f'; });
}

bool isDrivePath(QStringView text)
{
    return text.size() >= 2 && isAsciiLetter(text[0]) && text[1] == u':'
        && (text.size() == 2 || text[2] == u'\\' || text[2] == u'/');
}

bool isUncPath(QStringView text)
{
    return text.size() > 2 && text.startsWith(u"\\\\");
}

bool isLocalPath(QStringView text)
{
#ifdef Q_OS_WIN
    const bool absolutePath = false;
#else
    const bool absolutePath = text.startsWith(u'/');
#endif
    return isDrivePath(text) || isUncPath(text) || absolutePath;
}

// "host", "host:port", "[v6]:port", after any "user:password@".
bool splitServer(QStringView authority, quint16 defaultPort, QString &server, quint16 &port)
{
    const qsizetype at = authority.lastIndexOf(u'@');
    QStringView hostPort = authority.mid(at + 1);
    QStringView host, portText;
    bool hasPort = false;
    if (hostPort.startsWith(u'[')) {
        const qsizetype close = hostPort.indexOf(u']');
        if (close < 0)
            return false;
        host = hostPort.mid(1, close - 1);
        QStringView rest = hostPort.mid(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(u':'))
            return false;
        hasPort = !rest.isEmpty();
        portText = rest.mid(1);
    } else {
        const qsizetype colon = hostPort.indexOf(u':');
        host = colon < 0 ? hostPort : hostPort.left(colon);
        hasPort = colon >= 0;
        portText = colon < 0 ? QStringView() : hostPort.mid(colon + 1);
    }
    if (host.isEmpty())
        return false;

    // QUrl knows what a host may be: names, IPv4, IPv6 and international names.
    QUrl check;
    check.setHost(host.toString(), QUrl::StrictMode);
    if (!check.isValid() || check.host().isEmpty())
        return false;

    port = defaultPort;
    if (hasPort && !portText.isEmpty()) {
        if (portText.size() > 5 || !std::all_of(portText.begin(), portText.end(), [](QChar c) { return c.isDigit() && c < u'\x80'; }))
            return false;
        const int value = portText.toInt();
        if (value < 1 || value > 65535)
            return false;
        port = quint16(value);
    }
    server = host.toString();
    return true;
}

} // namespace

bool AfxParseURL(const QString &url, ServiceCode &service, QString &server, QString &object,
                 quint16 &port)
{
    service = Service::Unknown;
    server.clear();
    object = QStringLiteral("/");
    port = 0;

    const QStringView text = QStringView(url).trimmed();
    if (text.isEmpty() || hasControlCharacter(text))
        return false;
    if (isLocalPath(text)) {
        service = Service::File;
        object = text.toString();
        if (isUncPath(text))
            server = text.mid(2).split(u'\\').first().toString();
        return true;
    }

    const qsizetype colon = text.indexOf(u':');
    if (colon <= 0)
        return false;
    const Scheme *scheme = findScheme(text.left(colon));
    if (!scheme)
        return false;
    const QStringView rest = text.mid(colon + 1);

    QStringView path = rest;
    quint16 parsedPort = scheme->defaultPort;
    QString parsedServer;
    if (rest.startsWith(u"//")) {
        qsizetype end = 2;
        while (end < rest.size() && !QStringView(u"/\\?#").contains(rest[end]))
            ++end;
        const QStringView authority = rest.mid(2, end - 2);
        path = rest.mid(end);
        // file:///path has no server; every other service needs one.
        if (!(scheme->service == Service::File && authority.isEmpty())
            && !splitServer(authority, scheme->defaultPort, parsedServer, parsedPort))
            return false;
    } else if (scheme->hasServer || rest.isEmpty()) {
        return false;
    }

    service = scheme->service;
    server = parsedServer;
    port = parsedPort;
    if (path.startsWith(u'/'))
        object = path.toString();
    else if (!path.isEmpty())
        object = u'/' + path.toString();
    return true;
}
