#include "ccombobox.h"

CComboBox::CComboBox(QWidget *parent)
    : QComboBox(parent), SortedLinesControl(new SortedLinesModel(this))
{
    setModel(m_lines);
    setEditable(false);
    connect(this, &QComboBox::activated, this, &CComboBox::selectionChangedByUser);
}

int CComboBox::AddString(const QString &text)
{
    // QComboBox selects the first line added to an empty list; a drop-down
    // list here stays without selection until one is chosen.
    const bool hadSelection = currentIndex() >= 0;
    const int position = SortedLinesControl::AddString(text);
    if (!hadSelection)
        setCurrentIndex(-1);
    return position;
}
