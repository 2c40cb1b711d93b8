#include "searchfold.h"

#include <QString>

#include <vector>

namespace {

// The code points folded by table: Latin, Greek, Cyrillic and the combining
// marks, where nearly every stored character lies.
constexpr char32_t kTabled = 0x3000;

// One character folded the slow, thorough way: decomposed, its marks
// dropped, case folded; "ß" as "ss"; a control character as nothing.
QByteArray foldedCharacter(char32_t codePoint)
{
    if (codePoint < 0x20 || (codePoint >= 0x7F && codePoint < 0xA0))
        return {};
    if (codePoint == 0x00DF || codePoint == 0x1E9E)  // ß, ẞ
        return QByteArrayLiteral("ss");
    const char32_t one[] = {codePoint};
    QString folded;
    for (const QChar c : QString::fromUcs4(one, 1).normalized(QString::NormalizationForm_KD)) {
        const QChar::Category category = c.category();
        if (category != QChar::Mark_NonSpacing && category != QChar::Mark_SpacingCombining
            && category != QChar::Mark_Enclosing)
            folded += c;
    }
    return folded.toCaseFolded().toUtf8();
}

const std::vector<QByteArray> &foldTable()
{
    static const std::vector<QByteArray> table = [] {
        std::vector<QByteArray> folded(kTabled);
        for (char32_t codePoint = 0; codePoint < kTabled; ++codePoint)
            folded[codePoint] = foldedCharacter(codePoint);
        return folded;
    }();
    return table;
}

// The next code point of UTF-8 at *at, moving *at past it; a byte that
// starts no valid sequence reads as U+FFFD and moves one byte.
char32_t nextCodePoint(const uchar *&at, const uchar *end)
{
    const uchar lead = *at++;
    int more;
    if (lead >= 0xC2 && lead <= 0xDF)
        more = 1;
    else if (lead >= 0xE0 && lead <= 0xEF)
        more = 2;
    else if (lead >= 0xF0 && lead <= 0xF4)
        more = 3;
    else
        return 0xFFFD;
    if (end - at < more)
        return 0xFFFD;
    char32_t codePoint = lead & (0x3F >> more);
    for (int i = 0; i < more; ++i) {
        if ((at[i] & 0xC0) != 0x80)
            return 0xFFFD;
        codePoint = (codePoint << 6) | (at[i] & 0x3F);
    }
    // Overlong forms and surrogates are no characters either.
    static constexpr char32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
    if (codePoint < kLeast[more] || (codePoint >= 0xD800 && codePoint < 0xE000) || codePoint > 0x10FFFF)
        return 0xFFFD;
    at += more;
    return codePoint;
}

} // namespace

QByteArray FoldedForSearch(QStringView text)
{
    QByteArray folded;
    AppendFoldedForSearch(folded, text.toUtf8());
    return folded;
}

void AppendFoldedForSearch(QByteArray &folded, QByteArrayView utf8)
{
    const auto *at = reinterpret_cast<const uchar *>(utf8.data());
    const auto *const end = at + utf8.size();
    const std::vector<QByteArray> &table = foldTable();
    // Every character folds to at most a few bytes more than it has; the
    // room is taken once, and what is not used given back at the end.
    const qsizetype start = folded.size();
    folded.resize(start + utf8.size());
    qsizetype used = start;
    auto append = [&folded, &used](QByteArrayView bytes) {
        if (folded.size() - used < bytes.size())
            folded.resize(used + bytes.size() + 16);
        std::copy(bytes.begin(), bytes.end(), folded.data() + used);
        used += bytes.size();
    };
    while (at < end) {
        const uchar c = *at;
        if (c < 0x80) {
            ++at;
            if (c >= 0x20 && c != 0x7F) {
                if (used == folded.size())
                    folded.resize(used + (end - at) + 16);
                folded.data()[used++] = c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : char(c);
            }
            continue;
        }
        const char32_t codePoint = nextCodePoint(at, end);
        if (codePoint < kTabled)
            append(table[codePoint]);
        else
            append(foldedCharacter(codePoint));
    }
    folded.truncate(used);
}
