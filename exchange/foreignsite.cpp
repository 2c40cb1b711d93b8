#include "foreignsite.h"

#include <QXmlStreamReader>

int StandardPort(const QString &scheme)
{
    static const struct {
        const char *scheme;
        int port;
    } ports[] = {{"ftp", 21}, {"ftps", 990}, {"sftp", 22}, {"scp", 22}, {"http", 80},
                 {"https", 443}, {"dav", 80}, {"davs", 443}, {"s3", 443}};
    for (const auto &known : ports) {
        if (scheme == QLatin1String(known.scheme))
            return known.port;
    }
    return 0;
}

QString HostWithoutCredentials(const QString &host)
{
    const QString trimmed = host.trimmed();
    return trimmed.mid(trimmed.lastIndexOf(QLatin1Char('@')) + 1);
}

QString LabelWithoutCredentials(const QString &label, const QString &host)
{
    const qsizetype lastPart = label.lastIndexOf(QLatin1Char('/')) + 1;
    const qsizetype at = label.lastIndexOf(QLatin1Char('@'));
    if (at < lastPart || host.isEmpty() || label.mid(at + 1).compare(host, Qt::CaseInsensitive) != 0)
        return label;
    return label.left(lastPart) + label.mid(at + 1);
}

QString Printable(QStringView text)
{
    QString shown;
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            shown += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else if (c.category() == QChar::Other_Control || c.isNonCharacter() || c == QChar::ReplacementCharacter)
            shown += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

QString XmlProblem(const QXmlStreamReader &xml)
{
    // Qt says this in English; the user reads what it means.
    const QString what = xml.errorString().contains(QLatin1String("encoded"))
                             ? QStringLiteral("ungültige Zeichenkodierung (die Bytes sind kein gültiges UTF-8 und die "
                                              "Datei nennt keine andere Kodierung)")
                             : QStringLiteral("kein wohlgeformtes XML (%1)").arg(Printable(xml.errorString()));
    return QStringLiteral("Zeile %1: %2").arg(xml.lineNumber()).arg(what);
}
