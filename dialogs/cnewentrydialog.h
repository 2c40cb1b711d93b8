#pragma once

#include "cdialog.h"
#include "cpluginarray.h"
#include "cserverbookstore.h"

#include <QString>

// Collects a new server book entry: a label, the publishing worker that will
// serve it, the server address and the start path. Choosing a worker fills in
// an address template for its protocol, and the start path follows the path
// of the address until the user types a start path of their own.
//
// The same dialog edits an existing entry (EditEntry): it then opens with the
// entry's texts as stored and its worker selected, and fills in nothing until
// the user changes something.
class CNewEntryDialog : public CDialog
{
public:
    // The most characters an entry's text may have.
    static constexpr int kMaxChars = CServerBookStore::kMaxTextChars;

    CNewEntryDialog();

    // Makes the dialog "Eintrag bearbeiten" for an entry with these texts;
    // call before DoModal.
    void EditEntry(const QString &label, const QString &address, const QString &startPath,
                   const QString &pluginFile);

    // Result: file name of the chosen worker; empty without one.
    QString m_strPluginFile;
    // The start path the dialog itself put into the field or derived last;
    // while the field still holds exactly this, it follows the address.
    QString m_strDerivedPath;
    // The worker index the last worker change saw; -1 for none.
    int m_nLastWorker = -1;
    // The publishing workers on offer, shared with the host's array.
    CPluginArray m_workers;
    // The host's plug-ins, borrowed; without them no worker is offered.
    CPluginArray *m_pPluginArray = nullptr;
    QString m_strAddress;
    QString m_strStartPath;
    QString m_strLabel;

private:
    bool m_editing = false;

protected:
    void OnInitDialog() override;
    void OnOK() override;

private:
    void SelectWorkerOfEntry();
    void UpdateOkButton();
    void WorkerChanged();
    void AddressChanged();
};
