#include "cyberduckformat.h"

#include <QHash>
#include <QXmlStreamReader>

namespace {

QString schemeOf(const QString &protocol)
{
    // Cyberduck's protocol identifiers; its ftps is FTP with explicit TLS,
    // dav and davs are WebDAV over HTTP and HTTPS.
    static const QHash<QString, QString> schemes = {
        {QStringLiteral("ftp"), QStringLiteral("ftp")},   {QStringLiteral("ftps"), QStringLiteral("ftpes")},
        {QStringLiteral("sftp"), QStringLiteral("sftp")}, {QStringLiteral("dav"), QStringLiteral("dav")},
        {QStringLiteral("davs"), QStringLiteral("davs")}, {QStringLiteral("s3"), QStringLiteral("s3")},
    };
    return schemes.value(protocol.toLower(), QStringLiteral("Cyberduck-Protokoll %1").arg(protocol));
}

} // namespace

bool LooksLikeCyberduck(const QByteArray &content)
{
    // Also a broken file: its reader then says what is wrong, and where.
    return content.contains("<plist");
}

ReadResult ReadCyberduck(const QByteArray &content)
{
    QXmlStreamReader xml(content);
    auto failedAt = [](qint64 line, const QString &why) {
        return ReadResult{{}, QStringLiteral("Zeile %1: %2").arg(line).arg(why)};
    };
    auto failed = [&xml, &failedAt](const QString &why) {
        return xml.hasError() ? ReadResult{{}, XmlProblem(xml)} : failedAt(xml.lineNumber(), why);
    };
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("plist"))
        return failed(QStringLiteral("kein Cyberduck-Lesezeichen (plist fehlt)"));
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("dict"))
        return failed(QStringLiteral("kein Cyberduck-Lesezeichen (dict fehlt)"));

    // The top dict's keys with their string and integer values, and where
    // each stands; nested values are skipped.
    struct Value {
        QString text;
        bool isString = false;
        qint64 line = 0;
    };
    QHash<QString, Value> values;
    QString key;
    while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("key")) {
            key = xml.readElementText();
        } else if (xml.name() == QLatin1String("string") || xml.name() == QLatin1String("integer")) {
            Value value{{}, xml.name() == QLatin1String("string"), xml.lineNumber()};
            value.text = xml.readElementText();
            values.insert(key, value);
            key.clear();
        } else {
            xml.skipCurrentElement();
            key.clear();
        }
    }
    if (xml.hasError())
        return failed({});
    if (!values.contains(QStringLiteral("Hostname")) || !values.contains(QStringLiteral("Protocol")))
        return failed(QStringLiteral("dem Lesezeichen fehlen Protocol oder Hostname"));
    // Only the port may be a number; a name that is one is no bookmark Cyberduck wrote.
    for (const char *text : {"Hostname", "Protocol", "Nickname", "Path", "Username"}) {
        const auto value = values.constFind(QLatin1String(text));
        if (value != values.cend() && !value->isString)
            return failedAt(value->line, QStringLiteral("%1 ist keine Zeichenkette").arg(QLatin1String(text)));
    }

    ForeignSite site;
    site.scheme = schemeOf(values.value(QStringLiteral("Protocol")).text);
    site.host = values.value(QStringLiteral("Hostname")).text;
    // Cyberduck writes "anonymous" for a bookmark without sign-in.
    site.user = values.value(QStringLiteral("Username")).text;
    if (site.user == QLatin1String("anonymous"))
        site.user.clear();
    TakeCredentialsFromHost(site);
    site.label = values.value(QStringLiteral("Nickname")).text;
    if (site.label.isEmpty())
        site.label = site.host;
    site.remoteDir = values.value(QStringLiteral("Path")).text;
    bool ok = true;
    const Value port = values.value(QStringLiteral("Port"));
    site.port = port.text.isEmpty() ? 0 : port.text.toInt(&ok);
    if (!ok || site.port < 0 || site.port > 65535)
        return failedAt(port.line, QStringLiteral("ungültiger Port \"%1\"").arg(Printable(port.text)));
    if (site.port == StandardPort(site.scheme))
        site.port = 0;
    return ReadResult{{site}, {}};
}
