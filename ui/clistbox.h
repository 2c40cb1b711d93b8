#pragma once

#include "sortedlinesmodel.h"

#include <QListView>

// A sorted single-selection list box. selectionChangedByUser follows the
// user's clicks and keys only: a selection set from code notifies nobody.
class CListBox : public QListView, public SortedLinesControl
{
    Q_OBJECT

public:
    explicit CListBox(QWidget *parent = nullptr);

    void ResetContent();
    // The selected line, -1 when none.
    int GetCurSel() const;
    // Selects line index; -1 (or any index outside the lines) selects none.
    void SetCurSel(int index);

signals:
    void selectionChangedByUser();

private:
    bool m_settingFromCode = false;
};
