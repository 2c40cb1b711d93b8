#pragma once

#include "sortedlinesmodel.h"

#include <QComboBox>

// A sorted drop-down list. Adding lines never selects one by itself, and
// selectionChangedByUser follows every choice of the user, even of the line
// already selected; a selection set from code notifies nobody.
class CComboBox : public QComboBox, public SortedLinesControl
{
    Q_OBJECT

public:
    explicit CComboBox(QWidget *parent = nullptr);

    int AddString(const QString &text);
    void ResetContent() { m_lines->ResetContent(); }
    int GetCurSel() const { return currentIndex(); }
    void SetCurSel(int index) { setCurrentIndex(index); }

signals:
    void selectionChangedByUser();
};
