#include "cserverbookdialog.h"

#include "clistbox.h"
#include "cnewentrydialog.h"
#include "cpluginhost.h"
#include "cserverbookstore.h"
#include "kelvotemplates.h"
#include "messagebox.h"

using namespace ServerBookControl;

CServerBookDialog::CServerBookDialog() : CDialog(kServerBookTemplate)
{
    SetMessageMap({
        {Notification::SelectionChanged, EntryList, [this] { ShowDetails(); }},
        {Notification::Clicked, Delete, [this] { DeleteEntry(); }},
        {Notification::Clicked, New, [this] { NewEntry(); }},
    });
}

void CServerBookDialog::OnInitDialog()
{
    CDialog::OnInitDialog();
    Refill();
}

void CServerBookDialog::OnOK()
{
    ShowDetails();
    CDialog::OnOK();
}

void CServerBookDialog::Refill()
{
    CListBox *list = GetListBox(EntryList);
    if (!list)
        return;
    // Read first: a listing that fails leaves the list as it was.
    std::vector<SortedLinesModel::Line> lines;
    if (m_pStore) {
        auto entries = m_pStore->ListAll();
        lines.reserve(entries.size());
        for (auto &entry : entries)
            lines.push_back({std::move(entry.label), entry.ordinal});
    }
    list->ResetContent();
    list->AddLines(std::move(lines));
    list->SetCurSel(0);
    ShowDetails();
}

void CServerBookDialog::ShowDetails()
{
    const CListBox *list = GetListBox(EntryList);
    const int selected = list ? list->GetCurSel() : -1;
    if (selected == -1) {
        m_strServer.clear();
        m_strStartDir.clear();
        m_strPluginFile.clear();
        SetDlgItemText(Server, QStringLiteral("- keine aktuelle Serveradresse -"));
        SetDlgItemText(StartDir, QStringLiteral("- kein aktueller Startpfad -"));
        SetDlgItemText(PluginFile, QStringLiteral("- kein aktueller Plugin -"));
    } else if (m_pStore && m_pStore->PositionAt(list->GetItemData(selected))) {
        // A row gone meanwhile leaves results and fields as they were.
        const QString server = m_pStore->GetFieldText(QStringLiteral("Servername"));
        const QString startDir = m_pStore->GetFieldText(QStringLiteral("Startverzeichnis"));
        const QString pluginFile = m_pStore->GetFieldText(QStringLiteral("Plugindateiname"));
        m_strServer = server;
        m_strStartDir = startDir;
        m_strPluginFile = pluginFile;
        SetDlgItemText(Server, m_strServer);
        SetDlgItemText(StartDir, m_strStartDir);
        SetDlgItemText(PluginFile, m_strPluginFile);
    }
    UpdateDeleteButton();
}

void CServerBookDialog::UpdateDeleteButton()
{
    const CListBox *list = GetListBox(EntryList);
    EnableDlgItem(Delete, list && list->GetCount() > 0 && list->GetCurSel() != -1);
}

void CServerBookDialog::DeleteEntry()
{
    const CListBox *list = GetListBox(EntryList);
    const int selected = list ? list->GetCurSel() : -1;
    const int answer = MessageBox(QStringLiteral("Das Löschen der Adresse ist nicht rückgängig zu machen!\n"
                                                 "Soll wirklich gelöscht werden?"),
                                  MessageBoxFlags::YesNo | MessageBoxFlags::IconQuestion);
    if (selected == -1 || answer != IDYES || !m_pStore)
        return;
    m_pStore->MoveFirst();
    if (m_pStore->IsBOF() || m_pStore->IsEOF())
        return;
    m_pStore->Move(list->GetItemData(selected));
    m_pStore->DeleteCurrent();
    Refill();
}

void CServerBookDialog::NewEntry()
{
    CNewEntryDialog dialog;
    dialog.m_pPluginArray = GetCurrentPluginArray();
    if (dialog.DoModal() == IDOK && m_pStore) {
        m_pStore->Append(dialog.m_strLabel, dialog.m_strAddress, dialog.m_strStartPath,
                         dialog.m_strPluginFile);
        Refill();
    }
}
