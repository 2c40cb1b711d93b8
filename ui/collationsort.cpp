#include "collationsort.h"

#include <QLocale>

#include <unicode/uchar.h>
#include <unicode/ucol.h>
#include <unicode/ucoleitr.h>
#include <unicode/uset.h>

#include <algorithm>
#include <array>
#include <bit>
#include <memory>
#include <numeric>
#include <optional>
#include <cstring>
#include <string>
#include <system_error>
#include <thread>

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

// Most labels are decided by their first letters, and the Latin letters,
// digits and punctuation they are written in have fixed first-level (base
// letter) weights: one each, or a few for a letter like ß that counts as
// "ss". Each such weight gets a byte that orders as the weight does (a, A, ä
// and Ä share one). A text's first 20 weights as these bytes decide most
// comparisons with an integer compare; where a character's weights are not
// known this way, ICU compares the texts.
constexpr char16_t kRanked = 0x250;  // Latin-1, Latin Extended-A and -B
constexpr uint8_t kUnknown = 1;      // a character the bytes cannot order
constexpr uint8_t kEnd = 2;          // the text ended: before any letter
constexpr uint8_t kFirstRank = 3;
using PrefixWord = uint32_t;
constexpr size_t kWords = 5;                             // the prefix, as words
constexpr size_t kPrefix = sizeof(PrefixWord) * kWords;  // 0 fills the rest, and all of an empty text
constexpr size_t kMostWeights = 3;

// What a character contributes to a text's prefix. A contraction starter
// (l, as in "l·") has its own weights only when the next character is one
// with known weights, since those never continue a contraction.
struct CharacterRanks {
    uint8_t count = 0;  // 0: unknown
    bool startsContraction = false;
    std::array<uint8_t, kMostWeights> rank{};
};
using RankTable = std::array<CharacterRanks, kRanked>;

// The first-level weights of c alone, in order. An element whose low byte
// has both top bits set continues the one before it: the low half of a long
// weight.
std::vector<uint32_t> baseWeights(const UCollator *collator, UChar c)
{
    std::vector<uint32_t> weights;
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UCollationElements, void (*)(UCollationElements *)> elements(
        ucol_openElements(collator, &c, 1, &status), ucol_closeElements);
    bool afterWeight = false;
    for (int32_t element; U_SUCCESS(status) && (element = ucol_next(elements.get(), &status)) != UCOL_NULLORDER;) {
        const uint32_t high = uint32_t(element) >> 16;
        if ((element & 0xC0) == 0xC0) {
            if (afterWeight)
                weights.back() |= high;
            afterWeight = false;
        } else {
            afterWeight = high != 0;
            if (afterWeight)
                weights.push_back(high << 16);
        }
    }
    if (U_FAILURE(status))
        weights.clear();
    return weights;
}

// The characters below kRanked that begin a contraction or context of the
// collator, and those that continue one begun by such a character: the
// latter never get weights of their own here.
struct Contractions {
    std::array<bool, kRanked> starts{}, continues{};
};

Contractions contractionsOf(const UCollator *collator)
{
    Contractions contractions;
    contractions.continues.fill(true);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<USet, void (*)(USet *)> strings(uset_openEmpty(), uset_close);
    ucol_getContractionsAndExpansions(collator, strings.get(), nullptr, true, &status);
    if (U_FAILURE(status))
        return contractions;  // every character unknown
    contractions.continues.fill(false);
    for (int32_t i = 0; i < uset_getItemCount(strings.get()); ++i) {
        UChar32 start, end;
        std::array<UChar, 64> string;
        const int32_t length = uset_getItem(strings.get(), i, &start, &end, string.data(), int32_t(string.size()), &status);
        if (U_FAILURE(status) || length > int32_t(string.size())) {
            contractions.continues.fill(true);
            return contractions;
        }
        if (length <= 0 || string[0] >= kRanked)
            continue;
        contractions.starts[string[0]] = true;
        for (int32_t k = 1; k < length; ++k) {
            if (string[k] < kRanked)
                contractions.continues[string[k]] = true;
        }
    }
    return contractions;
}

RankTable rankBaseWeights(const UCollator *collator)
{
    RankTable table;
    const Contractions contractions = contractionsOf(collator);
    std::array<std::vector<uint32_t>, kRanked> weights;
    std::vector<uint32_t> known;
    for (UChar c = 0; c < kRanked; ++c) {
        if (contractions.continues[c])
            continue;
        weights[c] = baseWeights(collator, c);
        if (weights[c].size() == 1)
            known.push_back(weights[c].front());
    }
    // Weights as 32-bit numbers order as ICU orders them.
    std::sort(known.begin(), known.end());
    known.erase(std::unique(known.begin(), known.end()), known.end());
    known.resize(std::min<size_t>(known.size(), 0x100 - kFirstRank));
    for (UChar c = 0; c < kRanked; ++c) {
        if (weights[c].empty() || weights[c].size() > kMostWeights)
            continue;
        CharacterRanks ranks;
        for (const uint32_t weight : weights[c]) {
            const auto found = std::lower_bound(known.begin(), known.end(), weight);
            if (found == known.end() || *found != weight)
                break;
            ranks.rank[ranks.count++] = uint8_t(kFirstRank + (found - known.begin()));
        }
        if (ranks.count != weights[c].size())
            continue;
        ranks.startsContraction = contractions.starts[c];
        table[c] = ranks;
    }
    return table;
}

// The table stands on assumptions about ICU's data: how collation elements
// carry first-level weights, that a character has at most three, that a few
// hundred are enough. It is used only when ICU agrees with it on every
// ranked character: characters of neighbouring ranks order as ICU orders
// them at the first level (also with a letter after the first), characters
// of one rank are equal there, and a character with several weights equals
// the characters of those weights in a row. Where ICU disagrees, the order
// comes from ICU's sort keys instead: slower, never inconsistent.
bool agreesWithIcu(const RankTable &table, const UCollator *collator)
{
    UErrorCode status = U_ZERO_ERROR;
    const Collator primary(ucol_clone(collator, &status), ucol_close);
    if (U_FAILURE(status) || !primary)
        return false;
    ucol_setAttribute(primary.get(), UCOL_STRENGTH, UCOL_PRIMARY, &status);
    if (U_FAILURE(status))
        return false;
    auto compare = [&primary](const std::u16string &a, const std::u16string &b) {
        return ucol_strcoll(primary.get(), reinterpret_cast<const UChar *>(a.data()), int32_t(a.size()),
                            reinterpret_cast<const UChar *>(b.data()), int32_t(b.size()));
    };
    // One character of each rank, from those with one weight. A contraction
    // starter serves too: what would continue its contraction has no rank.
    std::array<char16_t, 0x100> of{};
    for (char16_t c = 0; c < kRanked; ++c) {
        if (table[c].count == 1 && !of[table[c].rank[0]])
            of[table[c].rank[0]] = c;
    }
    char16_t last = 0;
    for (size_t rank = kFirstRank; rank < of.size(); ++rank) {
        if (!of[rank])
            continue;
        if (last && (compare({last}, {of[rank]}) != UCOL_LESS || compare({last, of[rank]}, {of[rank]}) != UCOL_LESS))
            return false;
        last = of[rank];
    }
    for (char16_t c = 0; c < kRanked; ++c) {
        std::u16string spelled;
        for (uint8_t i = 0; i < table[c].count; ++i) {
            if (!of[table[c].rank[i]])
                return false;
            spelled += of[table[c].rank[i]];
        }
        if (table[c].count && compare({c}, spelled) != UCOL_EQUAL)
            return false;
    }
    return true;
}

struct CheckedRanks {
    RankTable table;
    bool agrees = false;
};

// The table, worked out and checked once: every collator here is made alike.
const CheckedRanks &checkedRanks(const UCollator *collator)
{
    static const CheckedRanks checked = [collator] {
        CheckedRanks ranks{rankBaseWeights(collator), false};
        ranks.agrees = agreesWithIcu(ranks.table, collator);
        return ranks;
    }();
    return checked;
}

const RankTable &baseRanks(const UCollator *collator)
{
    return checkedRanks(collator).table;
}

bool known(const RankTable &table, char16_t c)
{
    return c < kRanked && table[c].count != 0;
}

// The ranks of text[i] where it stands, or null where they are unknown.
const CharacterRanks *ranksOf(const RankTable &table, QStringView text, qsizetype i)
{
    const char16_t c = text[i].unicode();
    if (!known(table, c))
        return nullptr;
    if (table[c].startsContraction && i + 1 < text.size() && !known(table, text[i + 1].unicode()))
        return nullptr;
    return &table[c];
}

// A text's weight bytes one after another: a rank, then kEnd at its end,
// or kUnknown where they cannot be known (and nothing useful after it).
class WeightCursor
{
public:
    WeightCursor(const RankTable &table, QStringView text) : m_table(table), m_text(text) {}
    uint8_t next()
    {
        if (m_ranks && m_taken < m_ranks->count)
            return m_ranks->rank[m_taken++];
        if (m_at == m_text.size())
            return kEnd;
        m_ranks = ranksOf(m_table, m_text, m_at++);
        m_taken = 0;
        return m_ranks ? m_ranks->rank[m_taken++] : kUnknown;
    }

private:
    const RankTable &m_table;
    QStringView m_text;
    qsizetype m_at = 0;
    const CharacterRanks *m_ranks = nullptr;
    uint8_t m_taken = 0;
};

// A text's place in the order: its first 20 weight bytes, big endian, 0
// after an end or unknown and all 0 for an empty text; then its index,
// which breaks ties so equal texts keep their order. 24 bytes, so that a
// million of them stay small.
struct Record {
    std::array<PrefixWord, kWords> prefix;
    uint32_t index;
};
static_assert(sizeof(Record) == 24);

Record recordOf(const RankTable &table, QStringView text, uint32_t index)
{
    std::array<uint8_t, kPrefix> bytes{};
    Record record{{}, index};
    if (!text.isEmpty()) {
        WeightCursor weights(table, text);
        for (size_t i = 0; i < kPrefix; ++i) {
            bytes[i] = weights.next();
            if (bytes[i] < kFirstRank)
                break;
        }
    }
    for (size_t b = 0; b < kPrefix; ++b)
        record.prefix[b / sizeof(PrefixWord)] = PrefixWord(record.prefix[b / sizeof(PrefixWord)] << 8 | bytes[b]);
    return record;
}

// The texts of a listing: text i ends at ends[i], where text i + 1 starts.
struct ListedTexts {
    const QString &texts;
    const std::vector<quint32> &ends;

    QStringView text(uint32_t i) const
    {
        const quint32 start = i ? ends[i - 1] : 0;
        return QStringView(texts).mid(start, ends[i] - start);
    }
};

// Whether text a comes before text b: as QCollator orders them, then by index.
bool collatedBefore(const UCollator *collator, const ListedTexts &texts, uint32_t a, uint32_t b)
{
    const QStringView left = texts.text(a), right = texts.text(b);
    // QCollator puts an empty text before every other, ignorable ones too.
    if (left.isEmpty() != right.isEmpty())
        return left.isEmpty();
    const UCollationResult order =
        ucol_strcoll(collator, reinterpret_cast<const UChar *>(left.utf16()), int32_t(left.size()),
                     reinterpret_cast<const UChar *>(right.utf16()), int32_t(right.size()));
    return order != UCOL_EQUAL ? order == UCOL_LESS : a < b;
}

// Orders records as QCollator orders their texts, then by index.
struct TextOrder {
    const UCollator *collator;
    const RankTable *table;
    const ListedTexts *texts;

    bool operator()(const Record &a, const Record &b) const
    {
        // The first byte that differs decides, unless one of the two is
        // unknown there. Bytes before it are equal ranks.
        for (size_t w = 0; w < kWords; ++w) {
            if (a.prefix[w] != b.prefix[w])
                return decides(a.prefix[w], b.prefix[w]) ? a.prefix[w] < b.prefix[w] : byCollator(a, b);
        }
        // All ranks equal: the weights after them may still decide.
        return (a.prefix.back() & 0xFF) >= kFirstRank ? byWeights(a, b) : byCollator(a, b);
    }

    static bool decides(PrefixWord a, PrefixWord b)
    {
        const int shift = int(8 * sizeof(PrefixWord)) - 8 - (std::countl_zero(PrefixWord(a ^ b)) & ~7);
        return (a >> shift & 0xFF) != kUnknown && (b >> shift & 0xFF) != kUnknown;
    }

    bool byWeights(const Record &a, const Record &b) const
    {
        const QStringView left = texts->text(a.index), right = texts->text(b.index);
        if (left == right)
            return a.index < b.index;
        // From the start: such ties are rare enough that remembering where
        // each prefix ended is not worth four more bytes a record.
        WeightCursor leftWeights(*table, left), rightWeights(*table, right);
        for (;;) {
            const uint8_t x = leftWeights.next(), y = rightWeights.next();
            if (x != y && x != kUnknown && y != kUnknown)
                return x < y;
            if (x < kFirstRank || y < kFirstRank)
                return byCollator(a, b);
        }
    }

    bool byCollator(const Record &a, const Record &b) const
    {
        return collatedBefore(collator, *texts, a.index, b.index);
    }
};

void recordAndSort(const UCollator *collator, const ListedTexts &texts, Record *begin, uint32_t from, uint32_t to)
{
    const RankTable &table = baseRanks(collator);
    for (uint32_t i = from; i < to; ++i)
        begin[i - from] = recordOf(table, texts.text(i), i);
    std::sort(begin, begin + (to - from), TextOrder{collator, &table, &texts});
}

// Orders the texts by ICU's sort keys alone, equal ones by index: what the
// records above decide faster, for when their table cannot be trusted.
std::vector<uint32_t> orderBySortKeys(const UCollator *collator, const ListedTexts &texts, uint32_t count)
{
    // Each key after a byte that puts an empty text first, as QCollator
    // does; keys end with a 0 and hold none before it.
    std::vector<uint8_t> keys;
    std::vector<size_t> starts(count);
    for (uint32_t i = 0; i < count; ++i) {
        const QStringView text = texts.text(i);
        starts[i] = keys.size();
        keys.push_back(text.isEmpty() ? 1 : 2);
        const size_t at = keys.size();
        const auto units = reinterpret_cast<const UChar *>(text.utf16());
        keys.resize(at + size_t(text.size()) * 4 + 16);
        int32_t length = ucol_getSortKey(collator, units, int32_t(text.size()), keys.data() + at, int32_t(keys.size() - at));
        if (size_t(length) > keys.size() - at) {
            keys.resize(at + size_t(length));
            length = ucol_getSortKey(collator, units, int32_t(text.size()), keys.data() + at, length);
        }
        keys.resize(at + size_t(std::max(length, 1)));
        keys.back() = 0;
    }
    std::vector<uint32_t> order(count);
    for (uint32_t i = 0; i < count; ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        const int compared = std::strcmp(reinterpret_cast<const char *>(keys.data() + starts[a]),
                                         reinterpret_cast<const char *>(keys.data() + starts[b]));
        return compared != 0 ? compared < 0 : a < b;
    });
    return order;
}

// A thread that sorts records [from, to) with a collator of its own, or
// none when the system cannot start one.
std::jthread startSorting(const UCollator *collator, const ListedTexts &texts, Record *begin, uint32_t from,
                          uint32_t to)
{
    try {
        return std::jthread([=, &texts] {
            UErrorCode status = U_ZERO_ERROR;
            const Collator clone(ucol_clone(collator, &status), ucol_close);
            recordAndSort(clone ? clone.get() : collator, texts, begin, from, to);
        });
    } catch (const std::system_error &) {
        return {};
    }
}

} // namespace

std::vector<uint32_t> CollatedOrder(const QString &listed, const std::vector<quint32> &ends)
{
    const ListedTexts texts{listed, ends};
    const auto count = uint32_t(ends.size());
    Collator collator = germanCaseInsensitive();
    if (!collator) {
        // No ICU collator: keep the given order rather than fail the listing.
        std::vector<uint32_t> order(count);
        for (uint32_t i = 0; i < count; ++i)
            order[i] = i;
        return order;
    }
    // A short listing is sorted by ICU's comparison alone: the table of
    // weights costs milliseconds to make, once per process, and pays only
    // from a few thousand texts on.
    if (count < kCollationTableFrom) {
        std::vector<uint32_t> order(count);
        std::iota(order.begin(), order.end(), 0u);
        std::sort(order.begin(), order.end(),
                  [&](uint32_t a, uint32_t b) { return collatedBefore(collator.get(), texts, a, b); });
        return order;
    }
    if (!checkedRanks(collator.get()).agrees)
        return orderBySortKeys(collator.get(), texts, count);

    // A second thread sorts the second half while this one sorts the first;
    // without one, this one sorts both halves: the order is the same.
    const bool parallel = std::thread::hardware_concurrency() > 1;
    const uint32_t half = parallel ? count / 2 : count;
    std::vector<Record> records(count);
    std::jthread worker;
    if (parallel)
        worker = startSorting(collator.get(), texts, records.data() + half, half, count);
    recordAndSort(collator.get(), texts, records.data(), 0, half);
    if (worker.joinable())
        worker.join();
    else if (half < count)
        recordAndSort(collator.get(), texts, records.data() + half, half, count);
    const TextOrder textOrder{collator.get(), &baseRanks(collator.get()), &texts};
    // The halves merge straight into the order.
    std::vector<uint32_t> order(count);
    const auto middle = records.cbegin() + half;
    auto out = order.begin();
    auto left = records.cbegin(), right = middle;
    for (; left != middle && right != records.cend(); ++out)
        *out = textOrder(*right, *left) ? (right++)->index : (left++)->index;
    for (; left != middle; ++out)
        *out = (left++)->index;
    for (; right != records.cend(); ++out)
        *out = (right++)->index;
    return order;
}

std::vector<uint32_t> CollatedOrderBySortKeys(const QString &listed, const std::vector<quint32> &ends)
{
    const Collator collator = germanCaseInsensitive();
    const ListedTexts texts{listed, ends};
    if (!collator)
        return CollatedOrder(listed, ends);
    return orderBySortKeys(collator.get(), texts, uint32_t(ends.size()));
}

bool CollationTableAgreesWithIcu()
{
    const Collator collator = germanCaseInsensitive();
    return collator && checkedRanks(collator.get()).agrees;
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
