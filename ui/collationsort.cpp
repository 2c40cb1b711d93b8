#include "collationsort.h"

#include <QLocale>

#include <unicode/ucol.h>
#include <unicode/ucoleitr.h>
#include <unicode/uset.h>

#include <algorithm>
#include <array>
#include <bit>
#include <memory>
#include <optional>
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
// and Ä share one). A text's first 16 weights as these bytes decide most
// comparisons with an integer compare; where a character's weights are not
// known this way, ICU compares the texts.
constexpr char16_t kRanked = 0x250;  // Latin-1, Latin Extended-A and -B
constexpr uint8_t kUnknown = 1;      // a character the bytes cannot order
constexpr uint8_t kEnd = 2;          // the text ended: before any letter
constexpr uint8_t kFirstRank = 3;
constexpr size_t kPrefix = 16;     // 0 fills the rest, and all of an empty text
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

// The table for this process's collator, worked out once.
const RankTable &baseRanks(const UCollator *collator)
{
    static const RankTable table = rankBaseWeights(collator);
    return table;
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

// A text's place in the order: its first 16 weights' bytes, big endian,
// then its index, which breaks ties so equal texts keep their order.
struct Record {
    uint64_t head;
    uint64_t next;
    uint32_t index;
};

Record recordOf(const RankTable &table, QStringView text, uint32_t index)
{
    std::array<uint8_t, kPrefix> bytes{};
    size_t filled = 0;
    qsizetype i = 0;
    for (; i < text.size() && filled < kPrefix; ++i) {
        const CharacterRanks *ranks = ranksOf(table, text, i);
        if (!ranks) {
            bytes[filled++] = kUnknown;
            break;
        }
        for (uint8_t k = 0; k < ranks->count && filled < kPrefix; ++k)
            bytes[filled++] = ranks->rank[k];
    }
    if (i == text.size() && !text.isEmpty() && filled < kPrefix)
        bytes[filled] = kEnd;
    Record record{0, 0, index};
    for (size_t b = 0; b < 8; ++b) {
        record.head = record.head << 8 | bytes[b];
        record.next = record.next << 8 | bytes[8 + b];
    }
    return record;
}

// Orders records as QCollator orders their texts, then by index.
struct TextOrder {
    const UCollator *collator;
    const TextSource *texts;

    bool operator()(const Record &a, const Record &b) const
    {
        // The first byte that differs decides, unless one of the two is
        // unknown there. Bytes before it are equal ranks: after an unknown,
        // an end or in an empty text all bytes are 0.
        if (a.head != b.head)
            return decides(a.head, b.head) ? a.head < b.head : byCollator(a, b);
        if (a.next != b.next)
            return decides(a.next, b.next) ? a.next < b.next : byCollator(a, b);
        return byCollator(a, b);
    }

    static bool decides(uint64_t a, uint64_t b)
    {
        const int shift = 56 - (std::countl_zero(a ^ b) & ~7);
        return (a >> shift & 0xFF) != kUnknown && (b >> shift & 0xFF) != kUnknown;
    }

    bool byCollator(const Record &a, const Record &b) const
    {
        const QStringView left = texts->text(a.index), right = texts->text(b.index);
        // QCollator puts an empty text before every other, ignorable ones too.
        if (left.isEmpty() != right.isEmpty())
            return left.isEmpty();
        const UCollationResult order =
            ucol_strcoll(collator, reinterpret_cast<const UChar *>(left.utf16()), int32_t(left.size()),
                         reinterpret_cast<const UChar *>(right.utf16()), int32_t(right.size()));
        return order != UCOL_EQUAL ? order == UCOL_LESS : a.index < b.index;
    }
};

void recordAndSort(const UCollator *collator, const TextSource &texts, Record *begin, uint32_t from, uint32_t to)
{
    const RankTable &table = baseRanks(collator);
    for (uint32_t i = from; i < to; ++i)
        begin[i - from] = recordOf(table, texts.text(i), i);
    std::sort(begin, begin + (to - from), TextOrder{collator, &texts});
}

} // namespace

std::vector<uint32_t> CollatedOrder(const TextSource &texts, uint32_t count)
{
    std::vector<uint32_t> order(count);
    Collator collator = germanCaseInsensitive();
    if (!collator) {
        // No ICU collator: keep the given order rather than fail the listing.
        for (uint32_t i = 0; i < count; ++i)
            order[i] = i;
        return order;
    }
    baseRanks(collator.get());

    // Above some ten thousand texts a second thread sorts the second half
    // while this one sorts the first; below, starting it costs more than it
    // saves.
    constexpr uint32_t kParallelFrom = 16384;
    const bool parallel = count >= kParallelFrom && std::thread::hardware_concurrency() > 1;
    const uint32_t half = parallel ? count / 2 : count;
    std::vector<Record> records(count);
    std::thread second;
    if (parallel) {
        second = std::thread([&] {
            UErrorCode status = U_ZERO_ERROR;
            Collator clone(ucol_clone(collator.get(), &status), ucol_close);
            recordAndSort(clone ? clone.get() : collator.get(), texts, records.data() + half, half, count);
        });
    }
    recordAndSort(collator.get(), texts, records.data(), 0, half);
    if (parallel) {
        second.join();
        std::inplace_merge(records.begin(), records.begin() + half, records.end(),
                           TextOrder{collator.get(), &texts});
    }
    for (uint32_t i = 0; i < count; ++i)
        order[i] = records[i].index;
    return order;
}
