#include "cyberduckformat.h"

#include <QHash>
#include <QXmlStreamReader>

namespace {

QString schemeOf(const QString &protocol)
{
    // Cyberduck's protocol identifiers; dav and davs are WebDAV over HTTP and HTTPS.
    static const QHash<QString, QString> schemes = {
        {QStringLiteral("ftp"), QStringLiteral("ftp")},   {QStringLiteral("ftps"), QStringLiteral("ftp")},
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
    auto failed = [&xml](const QString &why) {
        return ReadResult{{}, QStringLiteral("Zeile %1: %2").arg(xml.lineNumber()).arg(why)};
    };
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("plist"))
        return failed(QStringLiteral("kein Cyberduck-Lesezeichen (plist fehlt)"));
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("dict"))
        return failed(QStringLiteral("kein Cyberduck-Lesezeichen (dict fehlt)"));

    // The top dict's keys with their string values; nested values are skipped.
    QHash<QString, QString> values;
    QString key;
    while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("key")) {
            key = xml.readElementText();
        } else if (xml.name() == QLatin1String("string") || xml.name() == QLatin1String("integer")) {
            values.insert(key, xml.readElementText());
            key.clear();
        } else {
            xml.skipCurrentElement();
            key.clear();
        }
    }
    if (xml.hasError())
        return failed(xml.errorString());
    if (!values.contains(QStringLiteral("Hostname")) || !values.contains(QStringLiteral("Protocol")))
        return failed(QStringLiteral("dem Lesezeichen fehlen Protocol oder Hostname"));

    ForeignSite site;
    site.scheme = schemeOf(values.value(QStringLiteral("Protocol")));
    site.host = values.value(QStringLiteral("Hostname"));
    site.label = values.value(QStringLiteral("Nickname"), site.host);
    site.remoteDir = values.value(QStringLiteral("Path"));
    bool ok = true;
    const QString port = values.value(QStringLiteral("Port"));
    site.port = port.isEmpty() ? 0 : port.toInt(&ok);
    if (!ok || site.port < 0 || site.port > 65535)
        return failed(QStringLiteral("ungültiger Port \"%1\"").arg(port));
    if (site.port == StandardPort(site.scheme))
        site.port = 0;
    return ReadResult{{site}, {}};
}
