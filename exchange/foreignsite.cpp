#include "foreignsite.h"

#include <QByteArray>
#include <QXmlStreamReader>

#include <algorithm>

int StandardPort(const QString &scheme)
{
    static const struct {
        const char *scheme;
        int port;
    } ports[] = {{"ftp", 21}, {"ftpes", 21}, {"ftps", 990}, {"sftp", 22}, {"scp", 22}, {"http", 80},
                 {"https", 443}, {"dav", 80}, {"davs", 443}, {"s3", 443}};
    for (const auto &known : ports) {
        if (scheme == QLatin1String(known.scheme))
            return known.port;
    }
    return 0;
}

void TakeCredentialsFromHost(ForeignSite &site)
{
    const QString trimmed = site.host.trimmed();
    const qsizetype at = trimmed.lastIndexOf(QLatin1Char('@'));
    site.host = trimmed.mid(at + 1);
    if (at < 0)
        return;
    const QStringView userInfo = QStringView(trimmed).first(at);
    const qsizetype colon = userInfo.indexOf(QLatin1Char(':'));
    if (site.user.isEmpty())
        site.user = userInfo.first(colon < 0 ? at : colon).toString();
    if (site.password.isEmpty() && colon >= 0)
        site.password = userInfo.sliced(colon + 1).toString();
}

QString LabelWithoutCredentials(const QString &label, const QString &host)
{
    const qsizetype lastPart = label.lastIndexOf(QLatin1Char('/')) + 1;
    const qsizetype at = label.lastIndexOf(QLatin1Char('@'));
    if (at < lastPart || host.isEmpty() || label.mid(at + 1).compare(host, Qt::CaseInsensitive) != 0)
        return label;
    return label.left(lastPart) + label.mid(at + 1);
}

QString ControlCharacterIn(QStringView text)
{
    const auto found = std::find_if(text.begin(), text.end(), IsControlCharacter);
    return found == text.end() ? QString() : Printable(QStringView(found, 1));
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

QString TooManySites()
{
    return QStringLiteral("mehr als eine Million Server; so viele hält keine Serverliste");
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

namespace {

bool isLowerLetter(QChar c)
{
    return c >= QLatin1Char('a') && c <= QLatin1Char('z');
}

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

bool isPlainLabel(QStringView label)
{
    constexpr qsizetype kMostLabel = 63;
    if (label.isEmpty() || label.size() > kMostLabel || label.front() == QLatin1Char('-')
        || label.back() == QLatin1Char('-'))
        return false;
    // "xn--" and every other "??--" are reserved for encoded names.
    if (label.size() >= 4 && label[2] == QLatin1Char('-') && label[3] == QLatin1Char('-'))
        return false;
    return std::all_of(label.begin(), label.end(),
                       [](QChar c) { return isLowerLetter(c) || isDigit(c) || c == QLatin1Char('-'); });
}

} // namespace

bool IsPlainHostName(QStringView host)
{
    constexpr qsizetype kMostHost = 253;
    if (host.isEmpty() || host.size() > kMostHost)
        return false;
    qsizetype start = 0;
    for (;;) {
        const qsizetype dot = host.indexOf(QLatin1Char('.'), start);
        const QStringView label = host.mid(start, dot < 0 ? host.size() - start : dot - start);
        if (!isPlainLabel(label))
            return false;
        if (dot < 0)
            return isLowerLetter(label.front());
        start = dot + 1;
    }
}

std::optional<PlainAddress> ParsePlainAddress(QStringView address)
{
    const qsizetype separator = address.indexOf(QLatin1String("://"));
    if (separator <= 0)
        return std::nullopt;
    const QStringView scheme = address.left(separator);
    if (!std::all_of(scheme.begin(), scheme.end(), [](QChar c) { return c.isLetter() && c.unicode() < 0x80; }))
        return std::nullopt;
    const qsizetype hostStart = separator + 3;
    qsizetype hostEnd = hostStart;
    while (hostEnd < address.size() && address[hostEnd] != QLatin1Char(':') && address[hostEnd] != QLatin1Char('/'))
        ++hostEnd;
    PlainAddress plain{scheme.toString().toLower(), address.mid(hostStart, hostEnd - hostStart), -1};
    if (!IsPlainHostName(plain.host))
        return std::nullopt;
    qsizetype pathStart = hostEnd;
    if (pathStart < address.size() && address[pathStart] == QLatin1Char(':')) {
        constexpr qsizetype kMostDigits = 5;
        const qsizetype digits = ++pathStart;
        while (pathStart < address.size() && isDigit(address[pathStart]) && pathStart - digits < kMostDigits)
            ++pathStart;
        if (pathStart == digits || address[digits] == QLatin1Char('0'))
            return std::nullopt;
        plain.port = address.mid(digits, pathStart - digits).toInt();
        if (plain.port > 65535)
            return std::nullopt;
    }
    const QStringView path = address.mid(pathStart);
    if (!path.isEmpty() && path.front() != QLatin1Char('/'))
        return std::nullopt;
    const bool plainPath = std::all_of(path.begin(), path.end(), [](QChar c) {
        return isLowerLetter(c) || isDigit(c) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) || c == u'-'
               || c == u'.' || c == u'_' || c == u'~' || c == u'/';
    });
    return plainPath ? std::optional(plain) : std::nullopt;
}

void AppendUtf8(QByteArray &out, QStringView text)
{
    const qsizetype at = out.size();
    if (std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; })) {
        out.resize(at + text.size());
        std::transform(text.begin(), text.end(), out.data() + at, [](QChar c) { return char(c.unicode()); });
        return;
    }
    out += text.toUtf8();
}
