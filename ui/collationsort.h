#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

// The order of many texts as the sorted list box gives it, computed at once:
// German, case-insensitive, and equal texts in the order they are given.
// The same as inserting them one by one with QCollator (QLocale::German,
// Qt::CaseInsensitive), from ICU's sort keys under QCollator's settings.
//
// The texts stand back to back in texts, text i ending at ends[i]; the
// result holds their indexes in sorted order.
std::vector<uint32_t> CollatedOrder(const QString &texts, const std::vector<quint32> &ends);

// What the order depends on besides the texts: ICU's version, its
// collator's for German, and the settings above. An order worked out
// under another identity may differ.
QByteArray CollationIdentity();
