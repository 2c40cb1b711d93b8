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
// Safe from any thread. Text stays shared with whoever took it and is only
// written again once they all let go of it.
class ListingMemory
{
public:
    static constexpr qsizetype kMostKeptBytes = 16 * 1024 * 1024;

    // A string of units UTF-16 units, whose contents are undefined: the
    // kept one when nobody else holds it and it has the room.
    static QString TakeText(qsizetype units);
    // Keeps a share of text for the next TakeText; false when it is too
    // large to keep.
    static bool KeepText(const QString &text);
    // An empty vector with room for at least rows rowids.
    static std::vector<qint64> TakeRowids(size_t rows);
    static void KeepRowids(std::vector<qint64> &&rowids);
};
