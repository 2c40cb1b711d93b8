#pragma once

#include "centrysearch.h"
#include "cserverbookstore.h"

#include <QString>

#include <memory>

class BookListView;

// Finding an entry of the selection list by any part of its texts: "Suchen …"
// (Ctrl+F) opens the search dialog, F3 goes on to the next match in the
// list's order. A found entry is selected only while it still holds what
// the search showed; otherwise the user is told and nothing is selected.
class SearchActions
{
public:
    explicit SearchActions(BookListView &view) : m_view(view) {}

    void Search();
    void FindNext();

private:
    void selectFound(qint64 rowid, const CServerBookStore::Entry &shown);

    BookListView &m_view;
    // The last search, for F3.
    QString m_text;
    std::shared_ptr<const CEntrySearch> m_index;
};
