#pragma once

#include <QStringView>

#include <cstdint>
#include <vector>

// The order of many texts as the sorted list box gives it, computed at once:
// German, case-insensitive, and equal texts in the order they are given.
// The same as inserting them one by one with QCollator (QLocale::German,
// Qt::CaseInsensitive): most comparisons are decided by compact records of
// the texts' first base-letter weights, the rest by ICU's collator with
// QCollator's settings. The sort runs on up to two threads, which end
// before this returns; the order does not depend on how many there are.
//
// text(i) gives text i for i in [0, count); the result holds the indexes in
// sorted order.
class TextSource
{
public:
    virtual ~TextSource() = default;
    virtual QStringView text(uint32_t index) const = 0;
};
std::vector<uint32_t> CollatedOrder(const TextSource &texts, uint32_t count);
