#include "searchfold.h"

#include <QString>

#include <algorithm>

namespace {

bool isControl(uchar c)
{
    return c < 0x20 || c == 0x7F;
}

} // namespace

QByteArray FoldedForSearch(QStringView text)
{
    QString folded;
    folded.reserve(text.size());
    for (const QChar c : text.toString().normalized(QString::NormalizationForm_KD)) {
        const QChar::Category category = c.category();
        if (category == QChar::Mark_NonSpacing || category == QChar::Mark_SpacingCombining
            || category == QChar::Mark_Enclosing || category == QChar::Other_Control)
            continue;
        if (c == QChar(0x00DF) || c == QChar(0x1E9E))  // ß, ẞ
            folded += QLatin1String("ss");
        else
            folded += c;
    }
    return folded.toCaseFolded().toUtf8();
}

void AppendFoldedForSearch(QByteArray &folded, QByteArrayView utf8)
{
    const bool ascii = std::all_of(utf8.begin(), utf8.end(), [](char c) { return uchar(c) < 0x80; });
    if (!ascii) {
        folded += FoldedForSearch(QString::fromUtf8(utf8));
        return;
    }
    const qsizetype start = folded.size();
    folded.resize(start + utf8.size());
    char *out = folded.data() + start;
    for (const char c : utf8) {
        if (!isControl(uchar(c)))
            *out++ = (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
    }
    folded.truncate(out - folded.constData());
}
