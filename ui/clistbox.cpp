#include "clistbox.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QScopedValueRollback>

CListBox::CListBox(QWidget *parent)
    : QListView(parent), SortedLinesControl(new SortedLinesModel(this))
{
    setModel(m_lines);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Every line is one line of text: uniform sizes keep large books fast.
    setUniformItemSizes(true);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (!m_settingFromCode)
            emit selectionChangedByUser();
    });
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
    scrollTo(line);
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
    } else if (event->key() == Qt::Key_F2 && event->modifiers() == Qt::NoModifier) {
        emit editRequested();
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
