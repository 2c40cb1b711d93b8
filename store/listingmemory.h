#pragma once

#include <QString>

#include <vector>

// Memory that one listing leaves for the next. A listing of a large book
// writes megabytes of labels and rowids; memory the process gave back costs
// a page fault per 4 KiB to take again, which on a virtual machine adds a
// tenth to the reading of the rows itself. So the room of the last listing
// is kept, up to kMostKeptBytes for each kind, and the next listing writes
// into pages that are already there.
//
// Safe from any thread. Whoever is done with a listing's text (the list that
// showed it) hands it back with KeepText.
class ListingMemory
{
public:
    static constexpr qsizetype kMostKeptBytes = 16 * 1024 * 1024;

    // A string of units UTF-16 units, whose contents are undefined: the
    // kept one, when there is one.
    static QString TakeText(qsizetype units);
    // Whether KeepText would keep text: what is resident is what the texts
    // filled, not the room reserved.
    static bool WorthKeeping(const QString &text);
    // Keeps text's memory for the next TakeText, when it is worth keeping
    // and nobody else holds it.
    static void KeepText(QString text);
    // An empty vector with room for at least rows rowids.
    static std::vector<qint64> TakeRowids(size_t rows);
    static void KeepRowids(std::vector<qint64> &&rowids);
};
