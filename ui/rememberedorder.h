#pragma once

#include <QString>

#include <cstdint>
#include <vector>

// From this many texts on, a listing's order is worth remembering.
constexpr size_t kRememberedFrom = 4096;

// The collated order of a large listing (CollatedOrder's), kept in a file of
// its own between listings, so that a book nobody changed is not sorted on
// every call.
//
// The file is used only after the listing just read has proved that it is
// the one the file was made for: the same number of texts and a hash of
// every text and where it ends, under the same collation (ICU's version and
// its collator's). Any difference, and a damaged, cut short or foreign file,
// means a sort as without the file, which is then written anew. Whatever
// the file holds, the order used is a permutation of the listing, so each
// line still leads to its own row. A file that cannot be written (a
// read-only folder or mount) is not kept; the listing does not suffer.
// Listings too short to be worth it neither use nor write one.
//
// The file is read when the object is made, so that the reading can overlap
// the listing's; OrderOf then checks it against the listing.
class RememberedOrder
{
public:
    // Without a file: every listing is sorted.
    RememberedOrder() = default;
    // A file that claims more than mostTexts texts, more than the listing
    // can have, is not read. What a writer killed halfway left beside the
    // file goes.
    RememberedOrder(const QString &file, quint64 mostTexts);

    // The collated order of the listing, texts[i] ending at ends[i]. Once
    // per object: the order read is handed over.
    std::vector<uint32_t> OrderOf(const QString &texts, const std::vector<quint32> &ends);

private:
    QString m_file;
    // The order the file held, whole and checked, for the listing whose hash
    // is m_listing; empty when there was none.
    std::vector<uint32_t> m_order;
    quint64 m_listing = 0;
};
