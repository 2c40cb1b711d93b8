#include "cserverbookdialog.h"

#include "addresscredentials.h"
#include "clistbox.h"
#include "cnewentrydialog.h"
#include "cpluginhost.h"
#include "deceptivetext.h"
#include "kelvotemplates.h"
#include "messagebox.h"
#include "storeerror.h"

#include <QApplication>

#include <chrono>

using namespace ServerBookControl;


CServerBookDialog::CServerBookDialog() : CDialog(kServerBookTemplate), m_actions(actions())
{
    std::vector<MessageEntry> messages{
        {Notification::SelectionChanged, EntryList, [this] { SelectedByUser(); }},
        {Notification::Clicked, Delete, [this] { DeleteEntry(); }},
        {Notification::Clicked, New, [this] { NewEntry(); }},
        {Notification::ContextMenu, EntryList, [this] { ShowContextMenu(); }},
    };
    for (const ListAction &action : m_actions) {
        if (!action.key.isEmpty())
            messages.push_back({Notification::Key, EntryList, action.run, action.key});
    }
    SetMessageMap(std::move(messages));
}

CServerBookDialog::~CServerBookDialog() = default;

// The list's commands, for its context menu and its keys alike.
std::vector<ListAction> CServerBookDialog::actions()
{
    using Needs = ListAction::Needs;
    return {
        {QStringLiteral("Bearbeiten …"), QKeySequence(Qt::Key_F2), [this] { m_edit.EditEntry(); }, Needs::Entry},
        {QStringLiteral("Duplizieren"), {}, [this] { m_edit.DuplicateEntry(); }, Needs::Entry},
        {QStringLiteral("Anmeldedaten …"), {}, [this] { m_signIn.EditSignIn(); }, Needs::Entry},
        {QStringLiteral("Verbindung prüfen …"), QKeySequence(Qt::CTRL | Qt::Key_T), [this] { m_check.CheckConnection(); },
         Needs::Entry, true},
        {QStringLiteral("Löschen"), QKeySequence(Qt::Key_Delete), [this] { DeleteEntry(); }, Needs::Entry, true},
        {QStringLiteral("Adresse kopieren"), QKeySequence::Copy, [this] { m_links.CopyAddress(); }, Needs::Entry},
        {QStringLiteral("Adresse einfügen …"), QKeySequence::Paste, [this] { m_links.PasteAddress(); }, Needs::Book, true},
        {QStringLiteral("Suchen …"), QKeySequence::Find, [this] { m_search.Search(); }, Needs::Book, true},
        {{}, QKeySequence(Qt::Key_F3), [this] { m_search.FindNext(); }, Needs::Book, false, QStringLiteral("Weitersuchen")},
        {QStringLiteral("Importieren …"), {}, [this] { m_exchange.Import(); }, Needs::Book},
        {QStringLiteral("Exportieren …"), {}, [this] { m_exchange.Export(); }, Needs::Book, true},
        {QStringLiteral("Sicherung wiederherstellen …"), {}, [this] { m_backups.Restore(); }, Needs::Book, true},
        {QStringLiteral("Tastenkürzel …"), QKeySequence(Qt::Key_F1), [this] { ShowKeys(); }, Needs::Book},
        {{}, QKeySequence::New, [this] { NewEntry(); }, Needs::Book, false, QStringLiteral("Neu ...")},
    };
}

void CServerBookDialog::ShowContextMenu()
{
    if (const CListBox *list = Lines())
        RunFromMenu(m_actions, this, list->ContextMenuPos(), list->GetCurSel() != -1 && m_pStore, m_pStore != nullptr);
}

// The listing is the part of a large book's first view that grows with the
// book; the widgets and the window are made meanwhile.
void CServerBookDialog::OnCreating()
{
    // The list takes the room a larger window gives.
    SetResizable(EntryList);
    if (!m_pStore)
        return;
    try {
        m_listingAhead = std::async(std::launch::async, [store = m_pStore] { return store->ListLabels(); });
    } catch (const std::system_error &) {
        // No thread to be had: the book is listed at init as usual.
    }
}

void CServerBookDialog::OnInitDialog()
{
    CDialog::OnInitDialog();
    // A screen reader tells the list's keys with the list.
    if (CListBox *list = Lines()) {
        QStringList keys;
        for (const auto &[key, what] : KeyTable(m_actions))
            keys << key + QStringLiteral(": ") + what;
        list->setAccessibleDescription(QStringLiteral("Tasten: ") + keys.join(QStringLiteral(", ")));
    }
    try {
        Refill();
        m_outside.Start();
    } catch (const std::exception &error) {
        // A book that cannot be listed is reported like one that cannot be
        // opened, instead of running an empty dialog.
        m_listingFailure = QString::fromUtf8(error.what());
        EndDialog(-1);
    }
}

// Hands back what the pane shows, and only while the row still holds it:
// one statement reads and compares the four fields.
void CServerBookDialog::OnOK()
{
    if (!SelectionStillMeant())
        return;
    const CListBox *list = Lines();
    const bool selected = list && list->GetCurSel() != -1;
    if (selected && !(m_pStore && m_pStore->RowUnchanged(m_shown))) {
        EntryGone();
        return;
    }
    if (selected && !DeceptionAccepted())
        return;
    // The row was read from the file the dialog opened; after the read the
    // path must still lead to it, or the entry is one of a book no longer
    // there.
    if (selected && m_pStore->FileReplaced()) {
        MessageBox(QStringLiteral("Das Serverbook wurde inzwischen durch eine andere Datei ersetzt (etwa von einem "
                                  "Sync-Programm). Es wird neu eingelesen; bitte wählen Sie erneut."),
                   MessageBoxFlags::Ok);
        m_outside.ReopenIfReplaced();
        // Told already: the line now selected is the user's to choose.
        m_selectionLost = false;
        return;
    }
    CDialog::OnOK();
}

// An entry whose texts could deceive the eye (mixed scripts, a reversed
// writing direction) is handed back only after the user saw it marked.
bool CServerBookDialog::DeceptionAccepted()
{
    const CListBox *list = Lines();
    const QString question =
        DeceptiveText::Question(list->GetText(list->GetCurSel()), PasswordHidden(m_strServer), m_strStartDir);
    return question.isEmpty()
           || MessageBox(question, MessageBoxFlags::YesNo | MessageBoxFlags::IconQuestion | MessageBoxFlags::DefaultButton2)
                  == IDYES;
}

CListBox *CServerBookDialog::Lines() const
{
    return GetListBox(EntryList);
}

bool CServerBookDialog::Busy() const
{
    return InHandler() || QApplication::activePopupWidget();
}

// After a re-list lost the entry the user had selected, the line at its
// place is another entry: the first action on it tells the user instead.
bool CServerBookDialog::SelectionStillMeant()
{
    if (!m_selectionLost)
        return true;
    m_selectionLost = false;
    MessageBox(EntryGoneText(), MessageBoxFlags::Ok);
    return false;
}

bool CServerBookDialog::RefusedAsReadOnly()
{
    if (!m_pStore || m_pStore->ReadOnlyReason().isEmpty())
        return false;
    MessageBox(QStringLiteral("Das Serverbook kann nur gelesen werden: %1.\nEinträge können ausgewählt, aber nicht "
                              "angelegt, geändert oder gelöscht werden.")
                   .arg(m_pStore->ReadOnlyReason()),
               MessageBoxFlags::Ok);
    return true;
}

void CServerBookDialog::Refill()
{
    ListAfresh();
    ShowFirst();
    focusList();
}

void CServerBookDialog::CatchUp()
{
    m_outside.RelistKeepingSelection([this] { ListAfresh(); });
    focusList();
}

// After the list was read afresh the keys go on working on it, whatever
// dialog had the focus before.
void CServerBookDialog::focusList()
{
    if (CListBox *list = Lines())
        list->setFocus();
}

void CServerBookDialog::ShowKeys()
{
    QStringList lines;
    for (const auto &[key, what] : KeyTable(m_actions))
        lines << key + QLatin1Char('\t') + what;
    MessageBox(QStringLiteral("Tasten in der Liste der Einträge:\n\n") + lines.join(QLatin1Char('\n')),
               MessageBoxFlags::Ok);
}

// Lists the book into the list box. Read first: a listing that fails leaves
// the list as it was, with the selected line's details checked again.
void CServerBookDialog::ListAfresh()
{
    CListBox *list = Lines();
    if (!list)
        return;
    // A large book's sorted order waits beside it for the next listing. It is
    // read first, while the listing ahead may still be reading the book.
    RememberedOrder remembered =
        m_pStore ? RememberedOrder(CServerBookStore::ListingOrderFile(m_pStore->File()), quint64(m_pStore->MostRows()))
                 : RememberedOrder();
    CServerBookStore::Labels labels;
    if (m_pStore) {
        try {
            labels = m_listingAhead.valid() ? takeListingAhead() : m_pStore->ListLabels();
        } catch (...) {
            ShowDetails();
            throw;
        }
    }
    list->ResetContent();
    list->AddTexts(std::move(labels.text), labels.ends, std::move(remembered));
}

// The listing read ahead. Time spent waiting for it goes into the window's
// drawing surface, which the first paint would otherwise make.
CServerBookStore::Labels CServerBookDialog::takeListingAhead()
{
    if (m_listingAhead.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
        PrepareSurface();
    return m_listingAhead.get();
}

// Selects the alphabetically first entry and shows it. A change racing the
// listing leaves the placeholders; the next click or OK finds it.
void CServerBookDialog::ShowFirst()
{
    if (CListBox *list = Lines())
        list->SetCurSel(0);
    ShowDetails();
}

// After the dialog's own change the list takes it in place while the store's
// listing still covers the table; when another program changed the table
// meanwhile, the whole book is listed afresh, so every line still leads to
// its own row.
void CServerBookDialog::TakeIn(const std::function<void(CListBox *)> &change)
{
    CListBox *list = Lines();
    if (list && m_pStore->ListingCurrent()) {
        change(list);
        ShowFirst();
    } else {
        Refill();
    }
}

// Makes the selected line's entry the result and shows it. False when the
// line's row is gone or was changed by another program: results and fields
// then hold nothing, so that no stale details can be handed back.
bool CServerBookDialog::ShowDetails()
{
    const CListBox *list = Lines();
    const int selected = list ? list->GetCurSel() : -1;
    const bool found = selected != -1 && m_pStore && m_pStore->PositionAt(list->GetItemData(selected))
                       && m_pStore->GetFieldText(QStringLiteral("Bezeichnung")) == list->GetText(selected);
    if (found) {
        const QString server = m_pStore->GetFieldText(QStringLiteral("Servername"));
        const QString startDir = m_pStore->GetFieldText(QStringLiteral("Startverzeichnis"));
        const QString pluginFile = m_pStore->GetFieldText(QStringLiteral("Plugindateiname"));
        m_shown = m_pStore->CurrentRow();
        m_strServer = server;
        m_strStartDir = startDir;
        m_strPluginFile = pluginFile;
        // Shown with what could deceive the eye made visible; the results
        // stay exactly as stored.
        SetDlgItemText(Server, DeceptiveText::Marked(PasswordHidden(m_strServer)));
        SetDlgItemText(StartDir, DeceptiveText::Marked(m_strStartDir));
        SetDlgItemText(PluginFile, DeceptiveText::Marked(m_strPluginFile));
    } else {
        m_shown = {};
        m_strServer.clear();
        m_strStartDir.clear();
        m_strPluginFile.clear();
        SetDlgItemText(Server, QStringLiteral("- keine aktuelle Serveradresse -"));
        SetDlgItemText(StartDir, QStringLiteral("- kein aktueller Startpfad -"));
        SetDlgItemText(PluginFile, QStringLiteral("- kein aktueller Plugin -"));
    }
    UpdateDeleteButton();
    return found || selected == -1;
}

void CServerBookDialog::EntryGone()
{
    MessageBox(EntryGoneText() + QStringLiteral("\nDie Liste wird neu eingelesen."), MessageBoxFlags::Ok);
    m_selectionLost = false;
    Refill();
}

void CServerBookDialog::UpdateDeleteButton()
{
    const CListBox *list = Lines();
    EnableDlgItem(Delete, list && list->GetCount() > 0 && list->GetCurSel() != -1);
}

void CServerBookDialog::DeleteEntry()
{
    const CListBox *list = Lines();
    const int selected = list ? list->GetCurSel() : -1;
    if (RefusedAsReadOnly())
        return;
    const int answer = MessageBox(QStringLiteral("Das Löschen der Adresse ist nicht rückgängig zu machen!\n"
                                                 "Soll wirklich gelöscht werden?"),
                                  MessageBoxFlags::YesNo | MessageBoxFlags::IconQuestion);
    if (selected == -1 || answer != IDYES || !m_pStore || !SelectionStillMeant())
        return;
    m_pStore->MoveFirst();
    if (m_pStore->IsBOF() || m_pStore->IsEOF())
        return;
    const qint32 ordinal = list->GetItemData(selected);
    m_pStore->Move(ordinal);
    // Deletes only the row the pane shows, and only while it still holds
    // exactly what the pane shows.
    if (!m_pStore->DeleteRow(m_shown)) {
        EntryGone();
        return;
    }
    TakeIn([selected, ordinal](CListBox *lines) {
        lines->RemoveLine(selected);
        lines->CloseGap(ordinal);
    });
}

void CServerBookDialog::NewEntry()
{
    if (RefusedAsReadOnly())
        return;
    AddEntry([](CNewEntryDialog &) {});
}

// When the entry cannot be stored (another file was put at the book's path
// meanwhile, say), what the user typed stays: the book is opened afresh and
// the dialog opens again with it, to be confirmed or cancelled.
void CServerBookDialog::AddEntry(const std::function<void(CNewEntryDialog &)> &prepare)
{
    std::function<void(CNewEntryDialog &)> setUp = prepare;
    for (;;) {
        CNewEntryDialog dialog;
        dialog.m_pPluginArray = GetCurrentPluginArray();
        setUp(dialog);
        if (dialog.DoModal() != IDOK || !m_pStore)
            return;
        const QStringList typed{dialog.m_strLabel, dialog.m_strAddress, dialog.m_strStartPath, dialog.m_strPluginFile};
        setUp = [typed](CNewEntryDialog &again) { again.Prefill(typed[0], typed[1], typed[2], typed[3]); };
        if (!m_signIn.TakePasswordOut(dialog.m_strAddress))
            continue;
        try {
            const qint64 row = m_pStore->Append(dialog.m_strLabel, dialog.m_strAddress, dialog.m_strStartPath,
                                                dialog.m_strPluginFile);
            TakeIn([this, row, &dialog](CListBox *lines) {
                lines->InsertListed(dialog.m_strLabel, m_pStore->OrdinalOf(row));
            });
            return;
        } catch (const StoreError &error) {
            MessageBox(error.message() + QStringLiteral("\nIhre Angaben bleiben erhalten: Sie können sie noch einmal "
                                                        "bestätigen oder abbrechen."),
                       MessageBoxFlags::Ok);
            m_outside.ReopenIfReplaced();
        }
    }
}

int CServerBookDialog::CheckedSelection()
{
    const CListBox *list = Lines();
    const int selected = list ? list->GetCurSel() : -1;
    if (selected == -1 || !m_pStore || !SelectionStillMeant())
        return -1;
    if (!ShowDetails()) {
        EntryGone();
        return -1;
    }
    return selected;
}

// Selects the line of a row the dialog itself just added or changed.
void CServerBookDialog::SelectRow(qint64 rowid)
{
    CListBox *list = Lines();
    const int ordinal = m_pStore ? m_pStore->OrdinalOf(rowid) : -1;
    const int line = list && ordinal != -1 ? list->FindItemData(ordinal) : -1;
    if (line == -1)
        return;
    list->SetCurSel(line);
    ShowDetails();
}

void CServerBookDialog::SelectLine(int line)
{
    if (CListBox *list = Lines())
        list->SetCurSel(line);
    SelectedByUser();
}

// A selection the user made: the line's entry is shown, or the user told
// that it went.
void CServerBookDialog::SelectedByUser()
{
    m_selectionLost = false;
    if (!ShowDetails())
        EntryGone();
}
