#include "clistbox.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QScopedValueRollback>

#include <algorithm>

namespace {
constexpr int kLayoutBatch = 2000;
}

CListBox::CListBox(QWidget *parent)
    : QListView(parent), SortedLinesControl(new SortedLinesModel(this))
{
    setModel(m_lines);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Every line is one line of text: uniform sizes keep large books fast.
    setUniformItemSizes(true);
    // A large book is laid out a batch at a time, so the list is painted
    // after its first batch instead of after every line; the rest follows
    // between events.
    setLayoutMode(QListView::Batched);
    setBatchSize(kLayoutBatch);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (!m_settingFromCode)
            emit selectionChangedByUser();
    });
}

int CListBox::AddString(const QString &text)
{
    const QScopedValueRollback guard(m_settingFromCode, true);
    return SortedLinesControl::AddString(text);
}

void CListBox::AddLines(std::vector<SortedLinesModel::Line> lines)
{
    const QScopedValueRollback guard(m_settingFromCode, true);
    SortedLinesControl::AddLines(std::move(lines));
}

void CListBox::AddTexts(QString texts, const std::vector<quint32> &ends, RememberedOrder remembered)
{
    const QScopedValueRollback guard(m_settingFromCode, true);
    SortedLinesControl::AddTexts(std::move(texts), ends, std::move(remembered));
}

int CListBox::InsertListed(const QString &text, qint32 data)
{
    const QScopedValueRollback guard(m_settingFromCode, true);
    return SortedLinesControl::InsertListed(text, data);
}

void CListBox::RemoveLine(int index)
{
    const QScopedValueRollback guard(m_settingFromCode, true);
    SortedLinesControl::RemoveLine(index);
}

void CListBox::Renumber(const std::vector<qint32> &newOfOld)
{
    const QScopedValueRollback guard(m_settingFromCode, true);
    SortedLinesControl::Renumber(newOfOld);
}

void CListBox::ResetContent()
{
    const QScopedValueRollback guard(m_settingFromCode, true);
    m_lines->ResetContent();
}

int CListBox::GetCurSel() const
{
    const QModelIndexList selected = selectionModel()->selectedRows();
    return selected.isEmpty() ? -1 : selected.first().row();
}

void CListBox::SetCurSel(int index)
{
    const QScopedValueRollback guard(m_settingFromCode, true);
    if (index < 0 || index >= GetCount()) {
        selectionModel()->clear();
        return;
    }
    const QModelIndex line = m_lines->index(index);
    setCurrentIndex(line);
    showLine(line);
}

void CListBox::showLine(const QModelIndex &line)
{
    // A line the batches laid out so far have not reached has no place yet.
    if (!visualRect(line).isValid()) {
        setLayoutMode(QListView::SinglePass);
        doItemsLayout();
        setLayoutMode(QListView::Batched);
    }
    scrollTo(line);
}

// A page up or down is a count of lines, as every line is one line high.
// Qt's own way selects the lines under a rectangle a page away: while a
// large list is laid out a batch at a time (after every change another
// program makes) that took seconds per key, and could select nothing.
void CListBox::movePage(bool down)
{
    const int page = std::max(1, viewport()->height() / std::max(1, sizeHintForRow(0)) - 1);
    const int from = std::max(0, GetCurSel());
    const QModelIndex line = m_lines->index(down ? std::min(GetCount() - 1, from + page) : std::max(0, from - page));
    selectionModel()->setCurrentIndex(line, QItemSelectionModel::ClearAndSelect);
    showLine(line);
}

QItemSelectionModel::SelectionFlags CListBox::selectionCommand(const QModelIndex &index, const QEvent *) const
{
    // Without this, Qt lets Ctrl toggle the selected line off and a click
    // beside the lines clear the selection.
    if (!index.isValid())
        return QItemSelectionModel::NoUpdate;
    return QItemSelectionModel::ClearAndSelect;
}

void CListBox::contextMenuEvent(QContextMenuEvent *event)
{
    // The keys are handled as keys below; a menu synthesised from them as
    // well would open twice.
    if (event->reason() == QContextMenuEvent::Mouse)
        requestContextMenu(event->globalPos());
    event->accept();
}

void CListBox::keyPressEvent(QKeyEvent *event)
{
    const bool menuKey = event->key() == Qt::Key_Menu
                         || (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier);
    if (menuKey) {
        // At the selected line, or the list's corner without one.
        const QRect line = visualRect(currentIndex());
        requestContextMenu(viewport()->mapToGlobal(line.isValid() ? line.center() : QPoint(0, 0)));
    } else if (const QKeySequence pressed(event->keyCombination()); m_commandKeys.contains(pressed)) {
        emit commandKeyPressed(pressed);
    } else if ((event->key() == Qt::Key_PageDown || event->key() == Qt::Key_PageUp)
               && event->modifiers() == Qt::NoModifier && GetCount() > 0) {
        movePage(event->key() == Qt::Key_PageDown);
    } else {
        QListView::keyPressEvent(event);
        return;
    }
    event->accept();
}

void CListBox::requestContextMenu(const QPoint &globalPos)
{
    m_contextMenuPos = globalPos;
    emit contextMenuRequested();
}
