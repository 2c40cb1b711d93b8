#include "clistbox.h"

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
