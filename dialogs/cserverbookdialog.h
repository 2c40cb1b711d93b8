#pragma once

#include "backupactions.h"
#include "checkactions.h"
#include "booklistview.h"
#include "cdialog.h"
#include "cserverbookstore.h"
#include "editactions.h"
#include "exchangeactions.h"
#include "linkactions.h"
#include "listaction.h"
#include "outsidechanges.h"
#include "rowsnapshot.h"
#include "searchactions.h"
#include "signinactions.h"

#include <QString>

#include <functional>
#include <future>
#include <vector>

class CListBox;
class CNewEntryDialog;

// Lists the server book's entries by label, shows the selected entry's
// details, deletes entries and adds new ones. On OK the selected entry's
// server, start directory and plug-in file are the results.
//
// The book is shared with other programs. A line leads to the row it was
// listed for, and an action reaches that row only while it holds what the
// user saw: selecting a line shows the row's details while the row still has
// the line's label; OK hands back only details that the row holds at that
// moment and that the pane shows; delete and edit change only a row that
// still holds exactly what the pane shows. Where the row changed or went,
// the user is told and the book listed afresh, and nothing else happens.
// Other programs' changes come in while the dialog is idle (OutsideChanges).
// A book that may only be read lists and hands back entries; every change
// is refused with the reason before anything is asked or filled in.
//
// The list's context menu (right click, Menu key, Shift+F10) and its keys
// run the commands of one table: "Löschen" (Delete) here; editing and
// duplicating, sign-in data, the connection check, search, links, import
// and export, and restoring a backup in parts of their own.
class CServerBookDialog : public CDialog, private BookListView
{
public:
    CServerBookDialog();
    ~CServerBookDialog() override;

    // Borrowed for the run; without it the list stays empty.
    CServerBookStore *m_pStore = nullptr;
    QString m_strServer;
    QString m_strStartDir;
    QString m_strPluginFile;

    // Why the book could not be listed when the dialog started; the dialog
    // then ended with -1 before it was shown. Empty when it ran.
    QString ListingFailure() const { return m_listingFailure; }

protected:
    void OnCreating() override;
    void OnInitDialog() override;
    void OnOK() override;

private:
    // What the parts beside the dialog use of it.
    CServerBookStore *Book() const override { return m_pStore; }
    CListBox *Lines() const override;
    QWidget *Window() override { return this; }
    int Tell(const QString &text, unsigned flags) override { return MessageBox(text, flags); }
    bool Busy() const override;
    bool RefusedAsReadOnly() override;
    int CheckedSelection() override;
    RowSnapshot Shown() const override { return m_shown; }
    QString ShownServer() const override { return m_strServer; }
    QString ShownStartDir() const override { return m_strStartDir; }
    QString ShownPluginFile() const override { return m_strPluginFile; }
    bool ShowDetails() override;
    void SelectionLost() override { m_selectionLost = true; }
    void ListAfresh() override;
    void Refill() override;
    void CatchUp() override;
    void SelectLine(int line) override;
    void AddEntry(const std::function<void(CNewEntryDialog &)> &prepare) override;
    void TakeIn(const std::function<void(CListBox *)> &change) override;
    void SelectRow(qint64 rowid) override;

    std::vector<ListAction> actions();
    void ShowContextMenu();
    void ShowKeys();
    CServerBookStore::Labels takeListingAhead();
    void ShowFirst();
    void EntryGone();
    void UpdateDeleteButton();
    void focusList();
    void DeleteEntry();
    void NewEntry();
    void SelectedByUser();
    bool SelectionStillMeant();
    bool DeceptionAccepted();

    QString m_listingFailure;
    // The first listing, read on a thread of its own while the widgets and
    // the window are made; the store is the thread's alone until it is taken.
    std::future<CServerBookStore::Labels> m_listingAhead;
    // The row whose details the pane shows, as it was read.
    RowSnapshot m_shown;
    // The selected entry went in a re-list; the line at its place is another.
    bool m_selectionLost = false;
    OutsideChanges m_outside{*this};
    SearchActions m_search{*this};
    LinkActions m_links{*this};
    SignInActions m_signIn{*this};
    CheckActions m_check{*this};
    ExchangeActions m_exchange{*this};
    BackupActions m_backups{*this};
    EditActions m_edit{*this, m_signIn};
    const std::vector<ListAction> m_actions;
};
