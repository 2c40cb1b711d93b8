#pragma once

#include "rowsnapshot.h"

#include <QString>

#include <functional>

class CListBox;
class CNewEntryDialog;
class CServerBookStore;
class QWidget;

// What the parts beside the selection dialog (following outside changes,
// editing, search, links, import and export, restore) need of it: the book, the
// list, and the dialog's own ways of selecting, showing and adding entries,
// so that every part keeps the dialog's promises about the shared book.
// What the user is told when the row of the selected line changed or went.
inline QString EntryGoneText()
{
    return QStringLiteral("Der Eintrag wurde von einem anderen Programm geändert oder gelöscht.");
}

class BookListView
{
public:
    // The book shown; null when the dialog has none.
    virtual CServerBookStore *Book() const = 0;
    virtual CListBox *Lines() const = 0;
    // The window that questions and further dialogs belong to.
    virtual QWidget *Window() = 0;
    virtual int Tell(const QString &text, unsigned flags) = 0;
    // Whether a handler, a message box or a menu is open, whose lines and
    // choices refer to the list as it is.
    virtual bool Busy() const = 0;

    // True, after telling the user why, when the book may only be read.
    virtual bool RefusedAsReadOnly() = 0;
    // The selected line with its entry's details read afresh; -1 without
    // one, or when its entry went (the user is told, the book listed again).
    virtual int CheckedSelection() = 0;
    // The row whose details the pane shows, as it was read, and its texts.
    virtual RowSnapshot Shown() const = 0;
    virtual QString ShownServer() const = 0;
    virtual QString ShownStartDir() const = 0;
    virtual QString ShownPluginFile() const = 0;
    // Reads the selected line's entry into the pane; false when it went.
    virtual bool ShowDetails() = 0;
    // The selected entry went in a re-list: the line at its place is another.
    virtual void SelectionLost() = 0;

    // Lists the book afresh into the list, leaving the selection to the caller.
    virtual void ListAfresh() = 0;
    // Lists the book afresh and selects the first entry.
    virtual void Refill() = 0;
    // Lists the book afresh, keeping the selected entry selected.
    virtual void CatchUp() = 0;
    // Selects line as the user would: its entry is shown, or the user told.
    virtual void SelectLine(int line) = 0;
    // Runs the new entry dialog, set up by prepare, and adds what the user
    // confirmed.
    virtual void AddEntry(const std::function<void(CNewEntryDialog &)> &prepare) = 0;
    // Lets change alter the list in place after the dialog's own change of
    // the book, or lists the book afresh when another program changed it too.
    virtual void TakeIn(const std::function<void(CListBox *)> &change) = 0;
    // Selects and shows the line of a row the dialog itself just added or
    // changed.
    virtual void SelectRow(qint64 rowid) = 0;

protected:
    ~BookListView() = default;
};
