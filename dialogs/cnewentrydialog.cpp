#include "cnewentrydialog.h"

#include "foreignsite.h"

#include "afxparseurl.h"
#include "ccombobox.h"
#include "cplugindll.h"
#include "kelvotemplates.h"
#include "messagebox.h"

using namespace NewEntryControl;

namespace {

const QString kNoWorkerMessage =
    QStringLiteral("Zu nutzender Publishing-Worker konnte nicht ermittelt werden!");

// What a new address of a protocol starts out as.
struct AddressTemplate {
    QString address;
    QString startPath;
};

AddressTemplate addressTemplateFor(ServiceCode service)
{
    switch (service) {
    case Service::Ftp:
        return {QStringLiteral("ftp://ftp.example.com/"), QStringLiteral("/")};
    case Service::Gopher:
        return {QStringLiteral("gopher://"), QStringLiteral("/")};
    case Service::Http:
        return {QStringLiteral("http://www.example.com/"), QStringLiteral("/")};
    case Service::Https:
        return {QStringLiteral("https://www.example.com/"), QStringLiteral("/")};
    case Service::File:
        // The root of local paths.
#ifdef Q_OS_WIN
        return {QStringLiteral("C:\\"), QStringLiteral("C:\\")};
#else
        return {QStringLiteral("/"), QStringLiteral("/")};
#endif
    default:
        return {};
    }
}

// The start path an address gives: the address itself for a local path,
// else its path part ("/" when it does not parse).
QString startPathOf(const QString &address)
{
    ServiceCode service;
    QString server, path;
    quint16 port;
    if (AfxParseURL(address, service, server, path, port) && service == Service::File)
        return address;
    return path;
}

} // namespace

CNewEntryDialog::CNewEntryDialog() : CDialog(kNewEntryTemplate)
{
    BindText(Address, &m_strAddress, kMaxChars);
    BindText(StartPath, &m_strStartPath, kMaxChars);
    BindText(Label, &m_strLabel, kMaxChars);
    SetMessageMap({
        {Notification::TextChanged, StartPath, [this] { UpdateOkButton(); }},
        {Notification::TextChanged, Label, [this] { UpdateOkButton(); }},
        {Notification::TextChanged, Address, [this] { AddressChanged(); }},
        {Notification::SelectionChanged, Worker, [this] { WorkerChanged(); }},
    });
}

void CNewEntryDialog::EditEntry(const QString &label, const QString &address, const QString &startPath,
                                const QString &pluginFile)
{
    Prefill(label, address, startPath, pluginFile);
    m_editing = true;
}

void CNewEntryDialog::Prefill(const QString &label, const QString &address, const QString &startPath,
                              const QString &pluginFile)
{
    m_prefilled = true;
    m_strLabel = label;
    m_strAddress = address;
    m_strStartPath = startPath;
    // Kept unless the user picks a worker: the entry's worker may not be loaded.
    m_strPluginFile = pluginFile;
}

void CNewEntryDialog::OnInitDialog()
{
    CDialog::OnInitDialog();
    CComboBox *workers = GetComboBox(Worker);
    if (m_pPluginArray && workers) {
        m_pPluginArray->FillPluginArray(&m_workers, PLUGINTYPE_PUBWORKER);
        for (int i = 0; i < m_workers.GetPluginCount(); ++i) {
            if (const CPluginDLL *worker = m_workers.GetPluginAt(i))
                workers->SetItemData(workers->AddString(worker->GetPluginName()), i);
        }
        m_nLastWorker = -1;
        if (m_prefilled) {
            SelectWorkerOfEntry();
        } else {
            workers->SetCurSel(0);
            WorkerChanged();
        }
    }
    if (m_editing)
        setWindowTitle(QStringLiteral("Eintrag bearbeiten"));
    // The start path follows the address if it is what the address gives.
    if (m_prefilled)
        m_strDerivedPath = startPathOf(m_strAddress);
    UpdateOkButton();
}

// Selects the worker whose file the entry names, without filling anything in;
// none when no loaded worker has that file.
void CNewEntryDialog::SelectWorkerOfEntry()
{
    CComboBox *workers = GetComboBox(Worker);
    for (int line = 0; line < workers->GetCount(); ++line) {
        const CPluginDLL *worker = m_workers.GetPluginAt(workers->GetItemData(line));
        if (worker && worker->GetPluginFileName() == m_strPluginFile) {
            workers->SetCurSel(line);
            m_nLastWorker = workers->GetItemData(line);
            return;
        }
    }
    workers->SetCurSel(-1);
}

void CNewEntryDialog::UpdateOkButton()
{
    EnableDlgItem(IDOK, !GetDlgItemText(Label).isEmpty() && !GetDlgItemText(Address).isEmpty()
                            && !GetDlgItemText(StartPath).isEmpty());
}

void CNewEntryDialog::OnOK()
{
    // Pasted text can carry what no one typed: a line break, an escape.
    for (const int field : {Label, Address, StartPath}) {
        if (const QString control = ControlCharacterIn(GetDlgItemText(field)); !control.isEmpty()) {
            MessageBox(QStringLiteral("Die Angaben enthalten das Steuerzeichen %1; es gehört in kein Serverbook. "
                                      "Bitte entfernen Sie es.")
                           .arg(control),
                       MessageBoxFlags::Ok);
            return;
        }
    }
    const CComboBox *workers = GetComboBox(Worker);
    if (!workers || !GetDlgItem(Address)) {
        MessageBox(kNoWorkerMessage, MessageBoxFlags::Ok);
    } else if (const auto *worker = dynamic_cast<const CPubWorkerPluginDLL *>(
                   m_workers.GetPluginAt(workers->GetItemData(workers->GetCurSel())))) {
        ServiceCode service;
        QString server, object;
        quint16 port;
        AfxParseURL(GetDlgItemText(Address), service, server, object, port);
        if (service != worker->GetSupportedService()
            && MessageBox(QStringLiteral("Das verwendete Dateiprotokoll und das Protokoll des aktuellen\n"
                                         "Publishing-Workers sind nicht kompatibel!\n\n"
                                         "Soll es trotzdem verwendet werden?"),
                          MessageBoxFlags::YesNo | MessageBoxFlags::IconQuestion
                              | MessageBoxFlags::DefaultButton2)
                   != IDYES) {
            // Back to what is to be mended: the address.
            if (QWidget *address = GetDlgItem(Address))
                address->setFocus();
            return;
        }
        m_strPluginFile = worker->GetPluginFileName();
    }
    CDialog::OnOK();
}

void CNewEntryDialog::WorkerChanged()
{
    const CComboBox *workers = GetComboBox(Worker);
    if (!GetDlgItem(Address) || !GetDlgItem(StartPath) || !workers) {
        MessageBox(kNoWorkerMessage, MessageBoxFlags::Ok);
        return;
    }
    const int index = workers->GetItemData(workers->GetCurSel());
    const auto *worker = dynamic_cast<const CPubWorkerPluginDLL *>(m_workers.GetPluginAt(index));

    if (index == m_nLastWorker) {
        // The same worker again: the fields stay; only the derived path is
        // taken afresh, from the address as last transferred from its field.
        m_strDerivedPath = startPathOf(m_strAddress);
        return;
    }
    if (worker) {
        const AddressTemplate pattern = addressTemplateFor(worker->GetSupportedService());
        // Setting the address runs AddressChanged at once; the template's start
        // path then replaces whatever that derived, so it follows again. What
        // the user typed stays in the fields' undo.
        ReplaceDlgItemText(Address, pattern.address);
        ReplaceDlgItemText(StartPath, pattern.startPath);
        m_strDerivedPath = pattern.startPath;
        UpdateOkButton();
    }
    m_nLastWorker = index;
}

void CNewEntryDialog::AddressChanged()
{
    if (!GetDlgItem(Address) || !GetDlgItem(StartPath)) {
        UpdateOkButton();
        return;
    }
    QString newStartPath = QStringLiteral("/");
    const QString address = GetDlgItemText(Address);
    const QString startPath = GetDlgItemText(StartPath);
    ServiceCode service;
    QString server, path;
    quint16 port;
    if (AfxParseURL(address, service, server, path, port)) {
        if (startPath != m_strDerivedPath) {
            newStartPath = startPath;  // the user's own start path stays
        } else if (service == Service::File) {
            newStartPath = address;
            path = address;
        } else {
            newStartPath = path;
        }
    }
    SetDlgItemText(StartPath, newStartPath);
    m_strDerivedPath = path;
    UpdateOkButton();
}
