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
// The same dialog edits an existing entry (EditEntry) and takes in a pasted
// link (Prefill): it then opens with the given texts and their worker
// selected, and fills in nothing until the user changes something.
class CNewEntryDialog : public CDialog
{
public:
    // The most characters an entry's text may have.
    static constexpr int kMaxChars = CServerBookStore::kMaxTextChars;

    CNewEntryDialog();

    // Opens the dialog with these texts and the worker of pluginFile chosen
    // (none when empty or not loaded), instead of a template: a link pasted
    // as a new entry. Call before DoModal.
    void Prefill(const QString &label, const QString &address, const QString &startPath, const QString &pluginFile);
    // The same, as "Eintrag bearbeiten" for an entry with these texts.
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
    bool m_prefilled = false;
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
