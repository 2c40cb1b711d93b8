#include "deceptivetext.h"

#include <QSet>
#include <QStringList>

namespace {

bool isDirectionControl(char32_t c)
{
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

// Whether a word (letters and digits between anything else: the labels of
// a host, the parts of a path) has letters of more than one script.
bool mixesScripts(QStringView text)
{
    QSet<QChar::Script> scripts;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        const QChar c = i < text.size() ? text[i] : QChar(u' ');
        if (c.isLetter()) {
            if (c.script() != QChar::Script_Common && c.script() != QChar::Script_Inherited)
                scripts.insert(c.script());
        } else if (!c.isDigit() && !c.isMark()) {
            if (scripts.size() > 1)
                return true;
            scripts.clear();
        }
    }
    return false;
}

} // namespace

QString DeceptiveText::WhyDeceptive(QStringView text)
{
    QStringList why;
    for (const char32_t c : text.toUcs4()) {
        if (isDirectionControl(c)) {
            why << QStringLiteral("enthält ein Steuerzeichen, das die Schreibrichtung umkehrt");
            break;
        }
    }
    if (mixesScripts(text))
        why << QStringLiteral("mischt in einem Wort Buchstaben verschiedener Schriften (etwa kyrillische unter lateinischen)");
    return why.join(QStringLiteral("; "));
}

QString DeceptiveText::Marked(const QString &text)
{
    QString marked;
    for (const char32_t c : text.toUcs4()) {
        if (isDirectionControl(c))
            marked += QStringLiteral("⟨U+%1⟩").arg(QString::number(uint(c), 16).toUpper().rightJustified(4, u'0'));
        else
            marked += QString::fromUcs4(&c, 1);
    }
    return mixesScripts(text) ? QStringLiteral("⚠ ") + marked : marked;
}

QString DeceptiveText::Question(const QString &label, const QString &server, const QString &startDir)
{
    QStringList why;
    for (const auto &[name, text] : {std::pair{QStringLiteral("Bezeichnung"), label},
                                     std::pair{QStringLiteral("Server"), server},
                                     std::pair{QStringLiteral("Startverzeichnis"), startDir}}) {
        if (const QString reason = WhyDeceptive(text); !reason.isEmpty())
            why << QStringLiteral("%1 \"%2\" %3.").arg(name, Marked(text), reason);
    }
    if (why.isEmpty())
        return {};
    return QStringLiteral("Dieser Eintrag sieht vielleicht anders aus, als er ist:\n%1\nSoll er trotzdem verwendet werden?")
        .arg(why.join(QLatin1Char('\n')));
}
