#include "collationsort.h"

#include <QLocale>

#include <unicode/ucol.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <numeric>

namespace {

using Collator = std::unique_ptr<UCollator, void (*)(UCollator *)>;

// The collator QCollator makes for QLocale::German with Qt::CaseInsensitive:
// normalisation on, secondary strength (case ignored), no numeric ordering,
// punctuation not ignored.
Collator germanCaseInsensitive()
{
    const QByteArray name = QLocale(QLocale::German, QLocale::Germany).bcp47Name().replace('-', '_').toLatin1();
    UErrorCode status = U_ZERO_ERROR;
    Collator collator(ucol_open(name.constData(), &status), ucol_close);
    ucol_setAttribute(collator.get(), UCOL_NORMALIZATION_MODE, UCOL_ON, &status);
    ucol_setAttribute(collator.get(), UCOL_STRENGTH, UCOL_SECONDARY, &status);
    ucol_setAttribute(collator.get(), UCOL_NUMERIC_COLLATION, UCOL_OFF, &status);
    ucol_setAttribute(collator.get(), UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE, &status);
    return U_SUCCESS(status) ? std::move(collator) : Collator(nullptr, ucol_close);
}

} // namespace

std::vector<uint32_t> CollatedOrder(const QString &listed, const std::vector<quint32> &ends)
{
    const auto count = uint32_t(ends.size());
    std::vector<uint32_t> order(count);
    std::iota(order.begin(), order.end(), 0u);
    const Collator collator = germanCaseInsensitive();
    // No ICU collator: keep the given order rather than fail the listing.
    if (!collator)
        return order;
    // ICU's sort keys compare as its collator does, with one pass over each
    // text instead of one per comparison. Each key comes after a byte that
    // puts an empty text first, as QCollator does; keys end with a 0 and
    // hold none before it.
    std::vector<uint8_t> keys;
    std::vector<size_t> starts(count);
    for (uint32_t i = 0; i < count; ++i) {
        const quint32 start = i ? ends[i - 1] : 0;
        const QStringView text = QStringView(listed).mid(start, ends[i] - start);
        starts[i] = keys.size();
        keys.push_back(text.isEmpty() ? 1 : 2);
        const size_t at = keys.size();
        const auto units = reinterpret_cast<const UChar *>(text.utf16());
        keys.resize(at + size_t(text.size()) * 4 + 16);
        int32_t length = ucol_getSortKey(collator.get(), units, int32_t(text.size()), keys.data() + at,
                                         int32_t(keys.size() - at));
        if (size_t(length) > keys.size() - at) {
            keys.resize(at + size_t(length));
            length = ucol_getSortKey(collator.get(), units, int32_t(text.size()), keys.data() + at, length);
        }
        keys.resize(at + size_t(std::max(length, 1)));
        keys.back() = 0;
    }
    std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        const int compared = std::strcmp(reinterpret_cast<const char *>(keys.data() + starts[a]),
                                         reinterpret_cast<const char *>(keys.data() + starts[b]));
        return compared != 0 ? compared < 0 : a < b;
    });
    return order;
}

QByteArray CollationIdentity()
{
    const Collator collator = germanCaseInsensitive();
    UVersionInfo icu{}, rules{};
    u_getVersion(icu);
    if (collator)
        ucol_getVersion(collator.get(), rules);
    UErrorCode status = U_ZERO_ERROR;
    const char *locale = collator ? ucol_getLocaleByType(collator.get(), ULOC_ACTUAL_LOCALE, &status) : "";
    // The attributes are this file's own; its revision stands for them.
    constexpr char kSettings[] = "secondary,normalised,non-numeric,non-ignorable;1";
    return QByteArray(reinterpret_cast<const char *>(icu), sizeof icu)
           + QByteArray(reinterpret_cast<const char *>(rules), sizeof rules) + (locale ? locale : "") + kSettings;
}
