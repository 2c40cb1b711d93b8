#include "booklisting.h"

#include <algorithm>

int BookListing::OrdinalOf(qint64 rowid) const
{
    const auto found = std::lower_bound(m_rowids.cbegin(), m_rowids.cend(), rowid);
    return found != m_rowids.cend() && *found == rowid ? int(found - m_rowids.cbegin()) : -1;
}

void BookListing::TakeInAppended(qint64 rowid)
{
    // A new row normally comes last in rowid order; one that does not (a
    // rowid reused after the largest went) would put every ordinal after it
    // off by one.
    if (m_current && (m_rowids.empty() || rowid > m_rowids.back()))
        m_rowids.push_back(rowid);
    else
        m_current = false;
}

void BookListing::TakeInDeleted(qint64 rowid)
{
    const auto listed = std::lower_bound(m_rowids.begin(), m_rowids.end(), rowid);
    if (listed != m_rowids.end() && *listed == rowid)
        m_rowids.erase(listed);
}
