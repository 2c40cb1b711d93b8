#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

// From this many texts on the order is worked out with a table of weights
// (below, ICU compares every pair), and is worth remembering between listings.
constexpr uint32_t kCollationTableFrom = 4096;

// The order of many texts as the sorted list box gives it, computed at once:
// German, case-insensitive, and equal texts in the order they are given.
// The same as inserting them one by one with QCollator (QLocale::German,
// Qt::CaseInsensitive): most comparisons are decided by compact records of
// the texts' first base-letter weights, the rest by ICU's collator with
// QCollator's settings. The sort runs on up to two threads, which end
// before this returns; the order does not depend on how many there are.
// The records' table of weights is checked against ICU once; should ICU
// disagree with it, the order comes from ICU's sort keys alone.
//
// The texts stand back to back in texts, text i ending at ends[i]; the
// result holds their indexes in sorted order.
std::vector<uint32_t> CollatedOrder(const QString &texts, const std::vector<quint32> &ends);

// The same order from ICU's sort keys alone, as CollatedOrder gives it when
// its table of weights does not agree with ICU.
std::vector<uint32_t> CollatedOrderBySortKeys(const QString &texts, const std::vector<quint32> &ends);
// Whether the table agrees with ICU here, so that CollatedOrder takes its
// fast path.
bool CollationTableAgreesWithIcu();

// What the order depends on besides the texts: ICU's version, its
// collator's for German, and the settings above. An order worked out
// under another identity may differ.
QByteArray CollationIdentity();
