#include "centrysearch.h"

#include "cserverbookstore.h"
#include "searchfold.h"

#include <algorithm>
#include <bit>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

constexpr char kFieldEnd = '\x1f';
constexpr char kEntryEnd = '\x1e';

// The first place in [at, end) where needle (two bytes or more) starts;
// null when there is none. Sixteen places are tried at once: those whose
// first and last byte match the needle's, compared further only then. This
// runs at several times the speed of memmem on the many short, alike texts
// of a book (addresses all start "ftp://" or "http").
const char *findIn(const char *at, const char *end, QByteArrayView needle)
{
    const qsizetype length = needle.size();
#ifdef __SSE2__
    const __m128i first = _mm_set1_epi8(needle.front());
    const __m128i last = _mm_set1_epi8(needle.back());
    for (; end - at >= length + 15; at += 16) {
        const __m128i starts = _mm_loadu_si128(reinterpret_cast<const __m128i *>(at));
        const __m128i ends = _mm_loadu_si128(reinterpret_cast<const __m128i *>(at + length - 1));
        unsigned candidates = unsigned(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(starts, first), _mm_cmpeq_epi8(ends, last))));
        for (; candidates; candidates &= candidates - 1) {
            const char *candidate = at + std::countr_zero(candidates);
            if (std::memcmp(candidate + 1, needle.data() + 1, size_t(length - 2)) == 0)
                return candidate;
        }
    }
#endif
    return static_cast<const char *>(memmem(at, size_t(end - at), needle.data(), size_t(length)));
}

// The same for any needle: a single byte is memchr's.
const char *findNeedle(const char *at, const char *end, QByteArrayView needle)
{
    if (needle.size() == 1)
        return static_cast<const char *>(memchr(at, needle.front(), size_t(end - at)));
    return findIn(at, end, needle);
}

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

CEntrySearch::Found CEntrySearch::Find(QStringView text, int limit) const
{
    Found found;
    const QByteArray needle = FoldedForSearch(text.trimmed());
    if (needle.isEmpty())
        return found;
    const char *const begin = m_folded.constData();
    const char *const end = begin + m_folded.size();
    for (const char *at = begin; at < end; ++found.count) {
        const char *hit = findNeedle(at, end, needle);
        if (!hit)
            break;
        // The search goes on after the entry the hit lies in; which entry
        // that is matters only for the ones asked for.
        if (int(found.first.size()) < limit) {
            const auto entry = std::upper_bound(m_ends.cbegin(), m_ends.cend(), hit - begin);
            found.first.push_back(int(entry - m_ends.cbegin()));
            at = begin + *entry;
        } else {
            at = static_cast<const char *>(memchr(hit, kEntryEnd, size_t(end - hit))) + 1;
        }
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
