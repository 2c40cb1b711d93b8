#include "listingmemory.h"

#include <mutex>
#include <utility>

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
        text = std::exchange(g_text, QString());
    }
    // A book that grew past the kept room grows the kept string: its pages
    // stay, which fresh room would have to fault in again.
    text.resize(units);
    return text;
}

bool ListingMemory::WorthKeeping(const QString &text)
{
    return text.size() * qsizetype(sizeof(char16_t)) <= kMostKeptBytes;
}

void ListingMemory::KeepText(QString text)
{
    // A string still shown somewhere stays as it is.
    if (!WorthKeeping(text) || !text.isDetached())
        return;
    const std::lock_guard lock(g_lock);
    g_text.swap(text);
    // The string it replaces is freed outside the lock.
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
