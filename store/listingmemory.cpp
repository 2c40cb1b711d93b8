#include "listingmemory.h"

#include <mutex>

namespace {

std::mutex g_lock;
QString g_text;
std::vector<qint64> g_rowids;

} // namespace

QString ListingMemory::TakeText(qsizetype units)
{
    QString text;
    {
        const std::lock_guard lock(g_lock);
        // Only the last share can be written; a string still shown
        // somewhere stays as it is, and this listing takes fresh room.
        if (g_text.isDetached() && g_text.capacity() >= units)
            text = std::move(g_text);
        g_text = QString();
    }
    text.resize(units);
    return text;
}

bool ListingMemory::KeepText(const QString &text)
{
    // What is resident is what the labels filled, not the room reserved.
    const bool small = text.size() * qsizetype(sizeof(char16_t)) <= kMostKeptBytes;
    const std::lock_guard lock(g_lock);
    g_text = small ? text : QString();
    return small;
}

std::vector<qint64> ListingMemory::TakeRowids(size_t rows)
{
    std::vector<qint64> rowids;
    {
        const std::lock_guard lock(g_lock);
        rowids.swap(g_rowids);
    }
    rowids.clear();
    rowids.reserve(rows);
    return rowids;
}

void ListingMemory::KeepRowids(std::vector<qint64> &&rowids)
{
    if (rowids.size() * sizeof(qint64) > size_t(kMostKeptBytes))
        return;
    std::vector<qint64> kept = std::move(rowids);
    const std::lock_guard lock(g_lock);
    g_rowids.swap(kept);
    // The vector it replaces is freed outside the lock.
}
