#pragma once

#include "cdialog.h"

#include <QString>

#include <functional>

class CListBox;
class CServerBookStore;

// Lists the server book's entries by label, shows the selected entry's
// details, deletes entries and adds new ones. On OK the selected entry's
// server, start directory and plug-in file are the results.
//
// A line leads to the row it was listed for or to nothing: when another
// program changed or deleted the entry behind a line, selecting it, deleting
// it or pressing OK on it tells the user and lists the book afresh, and OK
// only ever ends with the entry whose details are shown.
//
// The list's context menu (right click, Menu key, Shift+F10) offers
// "Bearbeiten …" (also F2), "Duplizieren" and "Löschen" for the selected entry,
// "Importieren …" and "Exportieren …" for other clients' site lists, and
// "Sicherung wiederherstellen …" to put the book back to one of its backups.
class CServerBookDialog : public CDialog
{
public:
    CServerBookDialog();

    // Borrowed for the run; without it the list stays empty.
    CServerBookStore *m_pStore = nullptr;
    QString m_strServer;
    QString m_strStartDir;
    QString m_strPluginFile;

    // Why the book could not be listed when the dialog started; the dialog
    // then ended with -1 before it was shown. Empty when it ran.
    QString ListingFailure() const { return m_listingFailure; }

protected:
    void OnInitDialog() override;
    void OnOK() override;

private:
    void Refill();
    void ShowFirst();
    void TakeIn(const std::function<void(CListBox *)> &change);
    bool ShowDetails();
    void EntryGone();
    void UpdateDeleteButton();
    void DeleteEntry();
    void NewEntry();
    void ShowContextMenu();
    int CheckedSelection();
    void EditEntry();
    void DuplicateEntry();
    void ImportSites();
    void ExportBook();
    void RestoreBackup();
    void SelectRow(qint64 rowid);

    QString m_listingFailure;
};
