#include "centrysearch.h"

#include "cserverbookstore.h"
#include "searchfold.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr char kFieldEnd = '\x1f';
constexpr char kEntryEnd = '\x1e';

} // namespace

CEntrySearch CEntrySearch::Read(CServerBookStore &store, std::stop_token stop)
{
    CEntrySearch search;
    store.ScanEntries([&](const CServerBookStore::StoredEntry &entry) {
        // A stop is asked for when the dialog goes: the rest is not needed,
        // and the scan runs out without it.
        if (stop.stop_requested())
            return;
        search.Add(entry.rowid, entry.label, entry.server, entry.startDir);
    });
    return search;
}

void CEntrySearch::Add(qint64 rowid, QByteArrayView label, QByteArrayView server, QByteArrayView startDir)
{
    AppendFoldedForSearch(m_folded, label);
    m_folded += kFieldEnd;
    AppendFoldedForSearch(m_folded, server);
    m_folded += kFieldEnd;
    AppendFoldedForSearch(m_folded, startDir);
    m_folded += kEntryEnd;
    m_ends.push_back(m_folded.size());
    m_rowids.push_back(rowid);
}

std::vector<int> CEntrySearch::Find(QStringView text) const
{
    std::vector<int> found;
    const QByteArray needle = FoldedForSearch(text.trimmed());
    if (needle.isEmpty())
        return found;
    const char *const begin = m_folded.constData();
    const char *const end = begin + m_folded.size();
    for (const char *at = begin; at < end;) {
        const auto *hit = static_cast<const char *>(
            memmem(at, size_t(end - at), needle.constData(), size_t(needle.size())));
        if (!hit)
            break;
        // The entry the hit lies in; the search goes on after it.
        const auto entry = std::upper_bound(m_ends.cbegin(), m_ends.cend(), hit - begin);
        found.push_back(int(entry - m_ends.cbegin()));
        at = begin + *entry;
    }
    return found;
}

bool CEntrySearch::Matches(QStringView text, QStringView label, QStringView server, QStringView startDir)
{
    const QByteArray needle = FoldedForSearch(text.trimmed());
    if (needle.isEmpty())
        return false;
    const QStringView fields[] = {label, server, startDir};
    return std::any_of(std::begin(fields), std::end(fields),
                       [&needle](QStringView field) { return FoldedForSearch(field).contains(needle); });
}
