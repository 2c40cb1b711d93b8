#include "outsidechanges.h"

#include "booklistview.h"
#include "clistbox.h"
#include "messagebox.h"

#include <QMetaObject>
#include <QScopeGuard>

#include <algorithm>

namespace {

// How often an idle dialog asks whether another program changed the book:
// a query of SQLite's data_version and a stat of the file, both cheap.
constexpr int kCheckMs = 500;
// More changed lines than this at once (an import, a restore by another
// program) are listed and sorted afresh rather than taken in one by one.
constexpr size_t kMostTakenIn = 512;

} // namespace

OutsideChanges::OutsideChanges(BookListView &view) : m_view(view)
{
    m_timer.setInterval(kCheckMs);
    connect(&m_timer, &QTimer::timeout, this, [this] { check(); });
}

OutsideChanges::~OutsideChanges()
{
    if (m_reading.valid())
        m_reading.wait();
}

void OutsideChanges::Start()
{
    if (CServerBookStore *book = m_view.Book())
        m_file = book->File();
    m_timer.start();
}

void OutsideChanges::check()
{
    CServerBookStore *book = m_view.Book();
    if (!book || m_view.Busy() || m_reading.valid())
        return;
    try {
        if (!book->IsOpen() || book->FileReplaced()) {
            reopen();
            return;
        }
        if (book->CheckOutside() != CServerBookStore::OutsideChange::Committed)
            return;
        m_reading = std::async(std::launch::async, [this, fresh = book->BeginFreshListing()]() mutable {
            // Told back on the dialog's thread, unless this is gone by then.
            const auto done = qScopeGuard([this] {
                QMetaObject::invokeMethod(this, [this] { taken(std::move(m_reading)); }, Qt::QueuedConnection);
            });
            fresh.Read();
            return std::move(fresh);
        });
    } catch (const StoreError &error) {
        reportGone(error);
    } catch (const std::system_error &) {
        // No thread to be had now: tried again at the next check.
    }
}

void OutsideChanges::ReopenIfReplaced()
{
    CServerBookStore *book = m_view.Book();
    try {
        if (book && (!book->IsOpen() || book->FileReplaced()))
            reopen();
    } catch (const StoreError &error) {
        reportGone(error);
    }
}

void OutsideChanges::reopen()
{
    m_view.Book()->Open(m_file);
    m_goneReported = false;
    RelistKeepingSelection([this] { m_view.ListAfresh(); });
}

// A book that cannot be opened again is gone for good, until it comes back;
// one that is locked or being replaced right now is tried again at the next
// check.
void OutsideChanges::reportGone(const StoreError &error)
{
    if (m_view.Book()->IsOpen() || m_goneReported)
        return;
    m_goneReported = true;
    m_view.Tell(error.message() + QStringLiteral("\nDie Liste zeigt das Serverbook, wie es zuletzt war; "
                                                 "sobald es wieder da ist, wird es neu eingelesen."),
                MessageBoxFlags::Ok);
}

void OutsideChanges::taken(std::future<CServerBookStore::FreshListing> reading)
{
    CServerBookStore *book = m_view.Book();
    try {
        CServerBookStore::FreshListing fresh = reading.get();
        // The user opened something meanwhile, or the dialog changed the
        // book itself: the next check reads again.
        if (!book || m_view.Busy())
            return;
        RelistKeepingSelection([&] {
            if (!merge(fresh))
                m_view.ListAfresh();
        });
    } catch (const StoreError &) {
        // Locked or replaced while it was read: the next check sees to it.
    }
}

// Takes the fresh listing into the list line by line; false, with the list
// unchanged, when it is not worth it or the book's listing moved on.
bool OutsideChanges::merge(CServerBookStore::FreshListing &fresh)
{
    CServerBookStore &book = *m_view.Book();
    CListBox &lines = *m_view.Lines();
    const std::vector<qint64> &before = book.ListedRowIds();
    const std::vector<qint64> &now = fresh.RowIds();
    const CServerBookStore::Labels &labels = fresh.LabelsRead();
    const auto labelOf = [&labels](size_t ordinal) {
        const quint32 start = ordinal ? labels.ends[ordinal - 1] : 0;
        return QStringView(labels.text).mid(start, labels.ends[ordinal] - start);
    };
    std::vector<int> lineOf(before.size(), -1);
    for (int line = 0; line < lines.GetCount(); ++line) {
        const qint32 ordinal = lines.GetItemData(line);
        if (ordinal >= 0 && size_t(ordinal) < before.size())
            lineOf[size_t(ordinal)] = line;
    }
    // Both listings are in rowid order: one walk finds the rows that went,
    // came, or now carry another label.
    std::vector<qint32> newOfOld(before.size(), -1);
    std::vector<size_t> comeIn;
    size_t gone = 0;
    for (size_t i = 0, j = 0; i < before.size() || j < now.size();) {
        if (j == now.size() || (i < before.size() && before[i] < now[j])) {
            ++gone;
            ++i;
        } else if (i == before.size() || now[j] < before[i]) {
            comeIn.push_back(j++);
        } else {
            if (lineOf[i] != -1 && lines.HasText(lineOf[i], labelOf(j)))
                newOfOld[i] = qint32(j);
            else
                comeIn.push_back(j);
            ++i;
            ++j;
        }
        if (gone + comeIn.size() > kMostTakenIn)
            return false;
    }
    if (!book.Adopt(std::move(fresh)))
        return false;
    lines.Renumber(newOfOld);
    for (const size_t ordinal : comeIn)
        lines.InsertListed(labelOf(ordinal).toString(), qint32(ordinal));
    return true;
}

void OutsideChanges::RelistKeepingSelection(const std::function<void()> &relist)
{
    CListBox *list = m_view.Lines();
    if (!list)
        return;
    const int selected = list->GetCurSel();
    const QString selectedLabel = selected != -1 ? list->GetText(selected) : QString();
    const RowSnapshot shown = m_view.Shown();
    const QModelIndex top = list->indexAt(QPoint(1, 1));
    const int topLine = top.isValid() ? top.row() : 0;
    relist();
    const int again = lineHolding(shown, selectedLabel);
    if (again != -1) {
        list->SetCurSel(again);
    } else if (selected != -1 && list->GetCount() > 0) {
        list->SetCurSel(std::min(selected, list->GetCount() - 1));
        if (shown.valid())
            m_view.SelectionLost();
    } else {
        list->SetCurSel(0);
    }
    if (list->GetCount() > 0)
        list->scrollTo(list->model()->index(std::min(topLine, list->GetCount() - 1), 0), QAbstractItemView::PositionAtTop);
    m_view.ShowDetails();
}

// The line of the row the pane showed, where the row still holds what it
// showed: at its rowid, or, after a VACUUM renumbered the rows, a line of
// the same label whose row holds the same four fields. -1 when there is none.
int OutsideChanges::lineHolding(const RowSnapshot &shown, const QString &label)
{
    CListBox *list = m_view.Lines();
    CServerBookStore *book = m_view.Book();
    if (!list || !book || !shown.valid())
        return -1;
    const int ordinal = book->OrdinalOf(shown.rowid);
    const int atRowid = ordinal != -1 ? list->FindItemData(ordinal) : -1;
    if (atRowid != -1 && list->GetText(atRowid) == label && book->RowUnchanged(shown))
        return atRowid;
    for (int line = 0; line < list->GetCount(); ++line) {
        if (list->GetText(line) == label && book->PositionAt(list->GetItemData(line))
            && book->CurrentRow().fields == shown.fields)
            return line;
    }
    return -1;
}
