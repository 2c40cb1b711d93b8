#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <limits>
#include <stop_token>
#include <vector>

class CServerBookStore;

// Finds the entries of a book by any part of their label, server address or
// start directory, as FoldedForSearch compares texts. The index holds every
// entry's three texts folded, back to back, and its rowid; a search is one
// pass of memmem over them, fast enough to answer each keystroke in a book
// of a million entries. It holds no texts to show: what a match shows is
// read from the book when it is shown, so that it is what the book holds
// then.
class CEntrySearch
{
public:
    // Reads every entry of the book open in store, in cursor order. Stops
    // early, with the entries read so far, once stop is requested.
    static CEntrySearch Read(CServerBookStore &store, std::stop_token stop = {});

    void Add(qint64 rowid, QByteArrayView label, QByteArrayView server, QByteArrayView startDir);

    // The entries whose label, address or start directory contains text:
    // the first limit of them (their indexes, in book order) and how many
    // there are in all; none for a text that folds to nothing.
    struct Found {
        std::vector<int> first;
        int count = 0;
    };
    Found Find(QStringView text, int limit = std::numeric_limits<int>::max()) const;
    qint64 RowIdAt(int index) const { return m_rowids[size_t(index)]; }
    int Count() const { return int(m_rowids.size()); }
    // Every entry's folded texts as the search runs over them.
    QByteArrayView FoldedText() const { return m_folded; }

    // Whether one entry's texts contain text, by the same rules: for a match
    // checked again against what the book holds now.
    static bool Matches(QStringView text, QStringView label, QStringView server, QStringView startDir);

private:
    // label \x1f server \x1f start directory \x1e, for every entry.
    QByteArray m_folded;
    std::vector<qsizetype> m_ends;
    std::vector<qint64> m_rowids;
};
