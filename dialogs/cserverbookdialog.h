#pragma once

#include "cdialog.h"

#include <QString>

class CServerBookStore;

// Lists the server book's entries by label, shows the selected entry's
// details, deletes entries and adds new ones. On OK the selected entry's
// server, start directory and plug-in file are the results.
class CServerBookDialog : public CDialog
{
public:
    CServerBookDialog();

    // Borrowed for the run; without it the list stays empty.
    CServerBookStore *m_pStore = nullptr;
    QString m_strServer;
    QString m_strStartDir;
    QString m_strPluginFile;

protected:
    void OnInitDialog() override;
    void OnOK() override;

private:
    void Refill();
    void ShowDetails();
    void UpdateDeleteButton();
    void DeleteEntry();
    void NewEntry();
};
