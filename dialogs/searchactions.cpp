#include "searchactions.h"

#include "booklistview.h"
#include "clistbox.h"
#include "csearchdialog.h"
#include "messagebox.h"

#include <optional>
#include <vector>

// Finds an entry by any part of its texts, and selects it as the user would.
void SearchActions::Search()
{
    CServerBookStore *book = m_view.Book();
    if (!book)
        return;
    CSearchDialog dialog(*book, m_text, m_view.Window());
    const bool chosen = dialog.exec() == QDialog::Accepted;
    m_text = dialog.SearchText();
    if (dialog.Index())
        m_index = dialog.Index();
    if (const std::optional<CSearchDialog::Chosen> found = dialog.ChosenEntry(); chosen && found)
        selectFound(found->rowid, found->shown);
}

void SearchActions::selectFound(qint64 rowid, const CServerBookStore::Entry &shown)
{
    CServerBookStore &book = *m_view.Book();
    if (!book.ListingCurrent())
        m_view.CatchUp();
    CListBox *list = m_view.Lines();
    const int ordinal = book.OrdinalOf(rowid);
    const int line = list && ordinal != -1 ? list->FindItemData(ordinal) : -1;
    if (line == -1 || book.EntryWithRowId(rowid) != shown) {
        m_view.Tell(QStringLiteral("Der gefundene Eintrag wurde inzwischen von einem anderen Programm geändert oder "
                                   "gelöscht; er wird nicht ausgewählt."),
                    MessageBoxFlags::Ok);
        return;
    }
    m_view.SelectLine(line);
}

// F3: the next line after the selected one, wrapping at the end, whose entry
// matches the last search and still does in the book now.
void SearchActions::FindNext()
{
    CServerBookStore *book = m_view.Book();
    if (!book)
        return;
    if (!m_index || m_text.trimmed().isEmpty()) {
        Search();
        return;
    }
    if (!book->ListingCurrent())
        m_view.CatchUp();
    CListBox *list = m_view.Lines();
    if (!list || list->GetCount() == 0)
        return;
    std::vector<qint64> matchOfOrdinal(size_t(list->GetCount()), -1);
    for (const int index : m_index->Find(m_text).first) {
        const qint64 rowid = m_index->RowIdAt(index);
        const int ordinal = book->OrdinalOf(rowid);
        if (ordinal >= 0 && size_t(ordinal) < matchOfOrdinal.size())
            matchOfOrdinal[size_t(ordinal)] = rowid;
    }
    const int count = list->GetCount();
    const int from = list->GetCurSel();
    for (int step = 1; step <= count; ++step) {
        const int line = (from + step + count) % count;
        const int ordinal = list->GetItemData(line);
        const qint64 rowid = ordinal >= 0 && size_t(ordinal) < matchOfOrdinal.size() ? matchOfOrdinal[size_t(ordinal)] : -1;
        if (rowid == -1)
            continue;
        const std::optional<CServerBookStore::Entry> now = book->EntryWithRowId(rowid);
        if (now && CEntrySearch::Matches(m_text, now->label, now->server, now->startDir)) {
            m_view.SelectLine(line);
            return;
        }
    }
    m_view.Tell(QStringLiteral("Kein Eintrag enthält \"%1\".").arg(m_text.trimmed()), MessageBoxFlags::Ok);
}
