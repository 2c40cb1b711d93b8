#pragma once

#include "sortedlinesmodel.h"

#include <QKeySequence>
#include <QListView>

// A sorted single-selection list box. selectionChangedByUser follows the
// user's clicks and keys only: a selection set from code notifies nobody.
// While there are lines the user cannot clear the selection: a click on the
// blank area, Ctrl+click and Ctrl+Space change nothing.
class CListBox : public QListView, private SortedLinesControl
{
    Q_OBJECT

public:
    explicit CListBox(QWidget *parent = nullptr);

    using SortedLinesControl::CloseGap;
    using SortedLinesControl::HasText;
    using SortedLinesControl::FindItemData;
    using SortedLinesControl::GetCount;
    using SortedLinesControl::GetItemData;
    using SortedLinesControl::GetText;
    using SortedLinesControl::SetItemData;

    // Changes of the lines are changes from code: a selection they move or
    // remove notifies nobody.
    int AddString(const QString &text);
    void AddLines(std::vector<SortedLinesModel::Line> lines);
    void AddTexts(QString texts, const std::vector<quint32> &ends, RememberedOrder remembered = {});
    int InsertListed(const QString &text, qint32 data);
    void RemoveLine(int index);
    void Renumber(const std::vector<qint32> &newOfOld);

    void ResetContent();
    // The selected line, -1 when none.
    int GetCurSel() const;
    // Selects line index; -1 (or any index outside the lines) selects none.
    void SetCurSel(int index);

    // Makes key a command of the list's (F2 to edit, Delete to delete): it no
    // longer does what the list would do with it, but is reported.
    void AddCommandKey(const QKeySequence &key) { m_commandKeys.push_back(key); }

    // Where the last context menu was asked for, in global coordinates.
    QPoint ContextMenuPos() const { return m_contextMenuPos; }

signals:
    void selectionChangedByUser();
    // A right click, the Menu key or Shift+F10.
    void contextMenuRequested();
    // A key given to AddCommandKey, pressed while the list has the focus.
    void commandKeyPressed(const QKeySequence &key);

protected:
    void contextMenuEvent(QContextMenuEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex &index,
                                                         const QEvent *event) const override;


private:
    void requestContextMenu(const QPoint &globalPos);
    void showLine(const QModelIndex &line);
    void movePage(bool down);

    bool m_settingFromCode = false;
    QPoint m_contextMenuPos;
    QList<QKeySequence> m_commandKeys;
};
