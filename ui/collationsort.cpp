#include "collationsort.h"

#include <QLocale>

#include <unicode/ucol.h>

#include <algorithm>
#include <cstring>
#include <memory>
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

// A text's place in the order: the first 16 bytes of its sort key inline
// decide most comparisons; the rest of the key, in one buffer shared by all
// records, decides the others with a byte compare. The index breaks ties, so
// equal texts keep their order.
struct Record {
    uint64_t head;
    uint64_t next;
    uint32_t keyOffset;
    uint32_t index;
};
constexpr size_t kInline = 16;

// The sort keys of texts [begin, end) into keys, back to back, each ending in
// the 0 byte ICU ends them with (no key holds another 0). An empty text gets
// no key and a head of 0, below every key: QCollator puts it first.
void computeKeys(const UCollator *collator, const TextSource &texts, uint32_t begin, uint32_t end,
                 Record *records, std::vector<uint8_t> &keys)
{
    // About 23 bytes a key for labels as people write them.
    keys.reserve(size_t(end - begin) * 24);
    std::vector<uint8_t> key(256);
    for (uint32_t i = begin; i < end; ++i) {
        const QStringView text = texts.text(i);
        records[i] = {0, 0, uint32_t(keys.size()), i};
        if (text.isEmpty())
            continue;
        const auto *chars = reinterpret_cast<const UChar *>(text.utf16());
        int32_t length = ucol_getSortKey(collator, chars, int32_t(text.size()), key.data(), int32_t(key.size()));
        if (length > int32_t(key.size())) {
            key.resize(size_t(length));
            length = ucol_getSortKey(collator, chars, int32_t(text.size()), key.data(), length);
        }
        keys.insert(keys.end(), key.data(), key.data() + length);
        uint8_t prefix[kInline] = {};
        std::memcpy(prefix, key.data(), std::min<size_t>(size_t(length), kInline));
        for (size_t b = 0; b < 8; ++b) {
            records[i].head = records[i].head << 8 | prefix[b];
            records[i].next = records[i].next << 8 | prefix[8 + b];
        }
    }
}

} // namespace

// Orders records by their keys, then by index. A record's key stays in the
// buffer of the half that computed it, and its index says which half.
struct KeyOrder {
    const uint8_t *firstKeys;
    const uint8_t *secondKeys;
    uint32_t half;

    const char *keyAfterPrefix(const Record &record) const
    {
        const uint8_t *keys = record.index >= half ? secondKeys : firstKeys;
        return reinterpret_cast<const char *>(keys + record.keyOffset + kInline);
    }
    bool operator()(const Record &a, const Record &b) const
    {
        if (a.head != b.head)
            return a.head < b.head;
        if (a.next != b.next)
            return a.next < b.next;
        // Equal prefixes that end in a 0 byte: both keys ended within them.
        if ((a.next & 0xFF) != 0) {
            const int order = std::strcmp(keyAfterPrefix(a), keyAfterPrefix(b));
            if (order != 0)
                return order < 0;
        }
        return a.index < b.index;
    }
};

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

    // Above a few thousand texts a second thread computes and sorts the keys
    // of the second half while this one does the first; below, starting a
    // thread costs more than it saves.
    constexpr uint32_t kParallelFrom = 4096;
    const bool parallel = count >= kParallelFrom && std::thread::hardware_concurrency() > 1;
    const uint32_t half = parallel ? count / 2 : count;
    std::vector<Record> records(count);
    std::vector<uint8_t> keys, secondKeys;
    std::thread second;
    if (parallel) {
        second = std::thread([&] {
            UErrorCode status = U_ZERO_ERROR;
            Collator clone(ucol_clone(collator.get(), &status), ucol_close);
            computeKeys(clone ? clone.get() : collator.get(), texts, half, count, records.data(), secondKeys);
            std::sort(records.begin() + half, records.end(), KeyOrder{nullptr, secondKeys.data(), half});
        });
    }
    computeKeys(collator.get(), texts, 0, half, records.data(), keys);
    std::sort(records.begin(), records.begin() + half, KeyOrder{keys.data(), nullptr, half});
    if (parallel) {
        second.join();
        std::inplace_merge(records.begin(), records.begin() + half, records.end(),
                           KeyOrder{keys.data(), secondKeys.data(), half});
    }
    for (uint32_t i = 0; i < count; ++i)
        order[i] = records[i].index;
    return order;
}
