#pragma once

#include "sortedlinesmodel.h"

#include <QComboBox>

// A sorted drop-down list. Adding lines never selects one by itself (so it
// offers no batch fill, whose model reset would select the first line), and
// selectionChangedByUser follows every choice of the user, even of the line
// already selected; a selection set from code notifies nobody.
class CComboBox : public QComboBox, private SortedLinesControl
{
    Q_OBJECT

public:
    explicit CComboBox(QWidget *parent = nullptr);

    using SortedLinesControl::GetCount;
    using SortedLinesControl::GetItemData;
    using SortedLinesControl::GetText;
    using SortedLinesControl::SetItemData;

    int AddString(const QString &text);
    void ResetContent() { m_lines->ResetContent(); }
    int GetCurSel() const { return currentIndex(); }
    void SetCurSel(int index) { setCurrentIndex(index); }

signals:
    void selectionChangedByUser();
};
