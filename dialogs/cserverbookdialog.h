#pragma once

#include "cdialog.h"
#include "centrysearch.h"
#include "cserverbookstore.h"
#include "rowsnapshot.h"

#include <QString>
#include <QTimer>

#include <functional>
#include <future>
#include <memory>

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
//
// Changes of other programs merge in while the dialog is idle: within half
// a second of another program's commit the book is listed again, the
// selected entry stays selected (found again by rowid and content) and the
// list keeps its place. When the selected entry went, the line at its place
// is selected, and the first action on it tells the user instead of acting.
// A file put in the book's place (a sync tool's rename) is opened afresh.
// A book that may only be read lists and hands back entries; every change is
// refused with the reason before anything is asked or filled in.
//
// The list's context menu (right click, Menu key, Shift+F10) offers
// "Bearbeiten …" (also F2), "Duplizieren" and "Löschen" for the selected entry,
// "Importieren …" and "Exportieren …" for other clients' site lists, and
// "Sicherung wiederherstellen …" to put the book back to one of its backups.
// "Suchen …" (Ctrl+F) finds an entry by any part of its texts; F3 goes on
// to the next match. "Adresse kopieren" (Ctrl+C) puts the selected entry on
// the clipboard as a link; "Adresse einfügen …" (Ctrl+V) makes a new entry
// of a link for the user to confirm. A found entry is selected only while it
// still holds what the search showed.
class CServerBookDialog : public CDialog
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
    void Refill();
    bool ListAfresh();
    CServerBookStore::Labels takeListingAhead();
    void ShowFirst();
    void TakeIn(const std::function<void(CListBox *)> &change);
    bool ShowDetails();
    void EntryGone();
    void UpdateDeleteButton();
    void DeleteEntry();
    void NewEntry();
    void AddEntry(const std::function<void(CNewEntryDialog &)> &prepare);
    void ShowContextMenu();
    int CheckedSelection();
    void EditEntry();
    void DuplicateEntry();
    void ImportSites();
    void ExportBook();
    void RestoreBackup();
    void SelectRow(qint64 rowid);
    void SelectedByUser();
    void Search();
    void SelectFound(qint64 rowid, const CServerBookStore::Entry &shown);
    void FindNext();
    void CopyAddress();
    void PasteAddress();

    void FollowOutsideChanges();
    void RelistKeepingSelection();
    int lineHolding(const RowSnapshot &shown, const QString &label);
    bool SelectionStillMeant();
    bool RefusedAsReadOnly();

    QString m_listingFailure;
    // The first listing, read on a thread of its own while the widgets and
    // the window are made; the store is the thread's alone until it is taken.
    std::future<CServerBookStore::Labels> m_listingAhead;
    // The row whose details the pane shows, as it was read.
    RowSnapshot m_shown;
    // The selected entry went in a re-list; the line at its place is another.
    bool m_selectionLost = false;
    QTimer m_outsideChanges;
    // The last search, for F3.
    QString m_searchText;
    std::shared_ptr<const CEntrySearch> m_searchIndex;
};
