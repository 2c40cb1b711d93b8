#include "cserverbookdialog.h"

#include "clistbox.h"
#include "cbookbackups.h"
#include "cnewentrydialog.h"
#include "crestoredialog.h"
#include "csearchdialog.h"
#include "cpluginhost.h"
#include "cserverbookstore.h"
#include "kelvotemplates.h"
#include "listingmemory.h"
#include "messagebox.h"

#include "bookexport.h"
#include "entrylink.h"
#include "filezillaformat.h"
#include "siteimport.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QMenu>
#include <QMimeData>
#include <QUrl>

#include <chrono>

using namespace ServerBookControl;

namespace {

// How often an idle dialog asks whether another program changed the book:
// a query of SQLite's data_version and a stat of the file, both cheap.
constexpr int kOutsideCheckMs = 500;

const QString kEntryGone = QStringLiteral("Der Eintrag wurde von einem anderen Programm geändert oder gelöscht.");

// The loaded publishing workers, in the host's order, for an import or a
// pasted link to choose from.
std::vector<WorkerInfo> loadedWorkers()
{
    std::vector<WorkerInfo> workers;
    if (CPluginArray *plugins = GetCurrentPluginArray()) {
        for (const auto &worker : plugins->PublishingWorkers())
            workers.push_back({worker.fileName, worker.service});
    }
    return workers;
}

} // namespace

CServerBookDialog::CServerBookDialog() : CDialog(kServerBookTemplate)
{
    m_outsideChanges.setInterval(kOutsideCheckMs);
    connect(&m_outsideChanges, &QTimer::timeout, this, [this] { FollowOutsideChanges(); });
    SetMessageMap({
        {Notification::SelectionChanged, EntryList, [this] { SelectedByUser(); }},
        {Notification::Clicked, Delete, [this] { DeleteEntry(); }},
        {Notification::Clicked, New, [this] { NewEntry(); }},
        {Notification::ContextMenu, EntryList, [this] { ShowContextMenu(); }},
        {Notification::Key, EntryList, [this] { EditEntry(); }, QKeySequence(Qt::Key_F2)},
        {Notification::Key, EntryList, [this] { DeleteEntry(); }, QKeySequence(Qt::Key_Delete)},
        {Notification::Key, EntryList, [this] { Search(); }, QKeySequence(QKeySequence::Find)},
        {Notification::Key, EntryList, [this] { FindNext(); }, QKeySequence(Qt::Key_F3)},
        {Notification::Key, EntryList, [this] { CopyAddress(); }, QKeySequence(QKeySequence::Copy)},
        {Notification::Key, EntryList, [this] { PasteAddress(); }, QKeySequence(QKeySequence::Paste)},
    });
}

// The list's texts are memory the next call's listing can write into.
CServerBookDialog::~CServerBookDialog()
{
    if (CListBox *list = GetListBox(EntryList))
        ListingMemory::KeepText(list->ResetContent());
}

// The listing is the part of a large book's first view that grows with the
// book; the widgets and the window are made meanwhile.
void CServerBookDialog::OnCreating()
{
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
    try {
        Refill();
        m_outsideChanges.start();
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
    const CListBox *list = GetListBox(EntryList);
    const bool selected = list && list->GetCurSel() != -1;
    if (selected && !(m_pStore && m_pStore->RowUnchanged(m_shown))) {
        EntryGone();
        return;
    }
    CDialog::OnOK();
}

// Lists the book again when another program changed it, unless the user is
// in the middle of something: a handler with its message box or dialog
// open, or a menu, whose lines and choices refer to the list as it is.
void CServerBookDialog::FollowOutsideChanges()
{
    if (!m_pStore || InHandler() || QApplication::activePopupWidget())
        return;
    try {
        switch (m_pStore->CheckOutside()) {
        case CServerBookStore::OutsideChange::None:
            return;
        case CServerBookStore::OutsideChange::Replaced:
            m_pStore->Open(m_pStore->File());
            break;
        case CServerBookStore::OutsideChange::Committed:
            break;
        }
        RelistKeepingSelection();
    } catch (const std::exception &) {
        // A book locked or being replaced right now: tried again at the next check.
    }
}

// The book listed afresh, with the selected entry selected again where it
// is unchanged, and the list scrolled as it was.
void CServerBookDialog::RelistKeepingSelection()
{
    CListBox *list = GetListBox(EntryList);
    if (!list)
        return;
    const int selected = list->GetCurSel();
    const QString selectedLabel = selected != -1 ? list->GetText(selected) : QString();
    const RowSnapshot shown = m_shown;
    const QModelIndex top = list->indexAt(QPoint(1, 1));
    const int topLine = top.isValid() ? top.row() : 0;
    ListAfresh();
    const int again = lineHolding(shown, selectedLabel);
    if (again != -1) {
        list->SetCurSel(again);
    } else if (selected != -1 && list->GetCount() > 0) {
        list->SetCurSel(std::min(selected, list->GetCount() - 1));
        m_selectionLost = m_selectionLost || shown.valid();
    } else {
        list->SetCurSel(0);
    }
    if (list->GetCount() > 0)
        list->scrollTo(list->model()->index(std::min(topLine, list->GetCount() - 1), 0), QAbstractItemView::PositionAtTop);
    ShowDetails();
}

// The line of the row the pane showed, where the row still holds what it
// showed: at its rowid, or, after a VACUUM renumbered the rows, a line of
// the same label whose row holds the same four fields. -1 when there is none.
int CServerBookDialog::lineHolding(const RowSnapshot &shown, const QString &label)
{
    CListBox *list = GetListBox(EntryList);
    if (!list || !shown.valid())
        return -1;
    const int ordinal = m_pStore->OrdinalOf(shown.rowid);
    const int atRowid = ordinal != -1 ? list->FindItemData(ordinal) : -1;
    if (atRowid != -1 && list->GetText(atRowid) == label && m_pStore->RowUnchanged(shown))
        return atRowid;
    for (int line = 0; line < list->GetCount(); ++line) {
        if (list->GetText(line) == label && m_pStore->PositionAt(list->GetItemData(line))
            && m_pStore->CurrentRow().fields == shown.fields)
            return line;
    }
    return -1;
}

// After a re-list lost the entry the user had selected, the line at its
// place is another entry: the first action on it tells the user instead.
bool CServerBookDialog::SelectionStillMeant()
{
    if (!m_selectionLost)
        return true;
    m_selectionLost = false;
    MessageBox(kEntryGone, MessageBoxFlags::Ok);
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
    if (ListAfresh())
        ShowFirst();
}

// Lists the book into the list box. Read first: a listing that fails leaves
// the list as it was, with the selected line's details checked again.
bool CServerBookDialog::ListAfresh()
{
    CListBox *list = GetListBox(EntryList);
    if (!list)
        return false;
    // A large book's sorted order waits beside it for the next listing. It is
    // read first, while the listing ahead may still be reading the book.
    RememberedOrder remembered =
        m_pStore ? RememberedOrder(CServerBookStore::ListingOrderFile(m_pStore->File())) : RememberedOrder();
    CServerBookStore::Labels labels;
    if (m_pStore) {
        try {
            labels = m_listingAhead.valid() ? takeListingAhead() : m_pStore->ListLabels();
        } catch (...) {
            ShowDetails();
            throw;
        }
    }
    ListingMemory::KeepText(list->ResetContent());
    list->AddTexts(std::move(labels.text), labels.ends, std::move(remembered));
    return true;
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
    if (CListBox *list = GetListBox(EntryList))
        list->SetCurSel(0);
    ShowDetails();
}

// After the dialog's own change the list takes it in place while the store's
// listing still covers the table; when another program changed the table
// meanwhile, the whole book is listed afresh, so every line still leads to
// its own row.
void CServerBookDialog::TakeIn(const std::function<void(CListBox *)> &change)
{
    CListBox *list = GetListBox(EntryList);
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
    const CListBox *list = GetListBox(EntryList);
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
        SetDlgItemText(Server, m_strServer);
        SetDlgItemText(StartDir, m_strStartDir);
        SetDlgItemText(PluginFile, m_strPluginFile);
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
    MessageBox(kEntryGone + QStringLiteral("\nDie Liste wird neu eingelesen."), MessageBoxFlags::Ok);
    m_selectionLost = false;
    Refill();
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

// Runs the new entry dialog, set up by prepare, and adds what the user
// confirmed.
void CServerBookDialog::AddEntry(const std::function<void(CNewEntryDialog &)> &prepare)
{
    CNewEntryDialog dialog;
    dialog.m_pPluginArray = GetCurrentPluginArray();
    prepare(dialog);
    if (dialog.DoModal() == IDOK && m_pStore) {
        const qint64 row = m_pStore->Append(dialog.m_strLabel, dialog.m_strAddress, dialog.m_strStartPath,
                                            dialog.m_strPluginFile);
        TakeIn([this, row, &dialog](CListBox *lines) {
            lines->InsertListed(dialog.m_strLabel, m_pStore->OrdinalOf(row));
        });
    }
}

void CServerBookDialog::ShowContextMenu()
{
    const CListBox *list = GetListBox(EntryList);
    if (!list)
        return;
    const bool hasEntry = list->GetCurSel() != -1 && m_pStore;
    QMenu menu(this);
    QAction *edit = menu.addAction(QStringLiteral("Bearbeiten …"));
    QAction *duplicate = menu.addAction(QStringLiteral("Duplizieren"));
    menu.addSeparator();
    QAction *remove = menu.addAction(QStringLiteral("Löschen"));
    menu.addSeparator();
    QAction *copy = menu.addAction(QStringLiteral("Adresse kopieren"));
    for (QAction *action : {edit, duplicate, remove, copy})
        action->setEnabled(hasEntry);
    QAction *paste = menu.addAction(QStringLiteral("Adresse einfügen …"));
    menu.addSeparator();
    QAction *search = menu.addAction(QStringLiteral("Suchen …"));
    menu.addSeparator();
    QAction *import = menu.addAction(QStringLiteral("Importieren …"));
    QAction *exportBook = menu.addAction(QStringLiteral("Exportieren …"));
    menu.addSeparator();
    QAction *restore = menu.addAction(QStringLiteral("Sicherung wiederherstellen …"));
    for (QAction *action : {paste, search, import, exportBook, restore})
        action->setEnabled(m_pStore);
    edit->setShortcut(QKeySequence(Qt::Key_F2));
    remove->setShortcut(QKeySequence(Qt::Key_Delete));
    copy->setShortcut(QKeySequence::Copy);
    paste->setShortcut(QKeySequence::Paste);
    search->setShortcut(QKeySequence::Find);
    QAction *chosen = menu.exec(list->ContextMenuPos());
    if (chosen == edit)
        EditEntry();
    else if (chosen == duplicate)
        DuplicateEntry();
    else if (chosen == remove)
        DeleteEntry();
    else if (chosen == copy)
        CopyAddress();
    else if (chosen == paste)
        PasteAddress();
    else if (chosen == search)
        Search();
    else if (chosen == import)
        ImportSites();
    else if (chosen == exportBook)
        ExportBook();
    else if (chosen == restore)
        RestoreBackup();
}

// Puts the book back to a backup the user picks, after asking; the state it
// replaces is backed up first, so a restore can itself be undone.
void CServerBookDialog::RestoreBackup()
{
    if (!m_pStore || RefusedAsReadOnly())
        return;
    const CBookBackups backups(m_pStore->File());
    CRestoreDialog dialog(backups, this);
    if (dialog.exec() != QDialog::Accepted || dialog.ChosenBackup().isEmpty())
        return;
    const int answer = MessageBox(QStringLiteral("Soll das Serverbook wirklich auf diese Sicherung zurückgesetzt werden?\n"
                                                 "%1\n"
                                                 "Der jetzige Stand wird vorher gesichert.")
                                      .arg(dialog.ChosenDescription()),
                                  MessageBoxFlags::YesNo | MessageBoxFlags::IconQuestion);
    if (answer != IDYES)
        return;
    m_pStore->RestoreFrom(backups.PathOf(dialog.ChosenBackup()));
    Refill();
}

// Adds the sites of other clients' files in one step and says what it did.
void CServerBookDialog::ImportSites()
{
    if (RefusedAsReadOnly())
        return;
    QFileDialog files(this, QStringLiteral("Serverlisten importieren"));
    files.setOption(QFileDialog::DontUseNativeDialog);
    files.setFileMode(QFileDialog::ExistingFiles);
    files.setNameFilters({QStringLiteral("Serverlisten von FileZilla, WinSCP, Cyberduck (*.xml *.ini *.duck)"),
                          QStringLiteral("Alle Dateien (*)")});
    if (files.exec() != QDialog::Accepted || !m_pStore)
        return;
    const std::vector<WorkerInfo> workers = loadedWorkers();
    const ReadResult read = ReadSites(files.selectedFiles());
    if (!read.ok()) {
        MessageBox(QStringLiteral("Die Serverliste konnte nicht gelesen werden; nichts wurde importiert.\n\n%1")
                       .arg(read.error),
                   MessageBoxFlags::Ok);
        return;
    }
    // Duplicates are judged against the book as it is when the sites are
    // stored, in one transaction with the storing.
    ImportPlan plan;
    m_pStore->AppendChosen([&] {
        plan = PlanImport(read.sites, workers, ReadBook(*m_pStore), false);
        return plan.rows();
    });
    Refill();
    QStringList skipped;
    for (const ImportItem &item : plan.items) {
        if (!item.imported)
            skipped << QStringLiteral("%1: %2").arg(item.site.label, item.reason);
    }
    constexpr int kListedAtMost = 15;
    QString summary = QStringLiteral("%1 Einträge importiert, %2 übersprungen.").arg(plan.importedCount()).arg(skipped.size());
    if (!skipped.isEmpty()) {
        summary += QStringLiteral("\n\n") + skipped.mid(0, kListedAtMost).join(QLatin1Char('\n'));
        if (skipped.size() > kListedAtMost)
            summary += QStringLiteral("\n…");
    }
    MessageBox(summary, MessageBoxFlags::Ok);
}

void CServerBookDialog::ExportBook()
{
    const QString fileZilla = QStringLiteral("FileZilla-Servermanager (*.xml)");
    const QString json = QStringLiteral("JSON (*.json)");
    QFileDialog files(this, QStringLiteral("Serverbook exportieren"));
    files.setOption(QFileDialog::DontUseNativeDialog);
    files.setAcceptMode(QFileDialog::AcceptSave);
    files.setNameFilters({fileZilla, json, QStringLiteral("CSV (*.csv)")});
    if (files.exec() != QDialog::Accepted || files.selectedFiles().isEmpty() || !m_pStore)
        return;
    if (m_pStore->ChangedSinceListing())
        Refill();
    const std::vector<BookEntry> entries = ReadBook(*m_pStore);
    int leftOut = 0;
    QStringList changed = EntriesNotReadable(entries);
    const QString filter = files.selectedNameFilter();
    const QByteArray content = filter == fileZilla ? WriteFileZilla(entries, &leftOut, &changed)
                               : filter == json    ? BookToJson(entries)
                                                   : BookToCsv(entries);
    QString why;
    if (!SaveWhole(files.selectedFiles().first(), content, &why)) {
        MessageBox(QStringLiteral("Die Datei konnte nicht geschrieben werden: %1").arg(why), MessageBoxFlags::Ok);
        return;
    }
    QStringList notes;
    if (leftOut)
        notes << QStringLiteral("%1 Einträge ohne FileZilla-Protokoll (etwa lokale Pfade) wurden ausgelassen.")
                     .arg(leftOut);
    constexpr int kListedAtMost = 15;
    notes << changed.mid(0, kListedAtMost);
    if (changed.size() > kListedAtMost)
        notes << QStringLiteral("…");
    if (!notes.isEmpty())
        MessageBox(notes.join(QLatin1Char('\n')), MessageBoxFlags::Ok);
}

// The selected line, its details read afresh; -1 without one, or when its
// entry is gone (which the user is told, and the book listed again).
int CServerBookDialog::CheckedSelection()
{
    const CListBox *list = GetListBox(EntryList);
    const int selected = list ? list->GetCurSel() : -1;
    if (selected == -1 || !m_pStore || RefusedAsReadOnly() || !SelectionStillMeant())
        return -1;
    if (!ShowDetails()) {
        EntryGone();
        return -1;
    }
    return selected;
}

// Opens the entry dialog on the selected entry as it is stored now and writes
// what the user confirmed back into that row, while it still holds what the
// dialog opened with. When another program changed or deleted that row
// meanwhile, what the user typed stays: it can go in as a new entry, or the
// dialog opens again with it.
void CServerBookDialog::EditEntry()
{
    const CListBox *list = GetListBox(EntryList);
    const int selected = CheckedSelection();
    if (selected == -1)
        return;
    const QString label = list->GetText(selected);
    const int ordinal = list->GetItemData(selected);
    const RowSnapshot row = m_shown;
    QStringList typed{label, m_strServer, m_strStartDir, m_strPluginFile};
    for (;;) {
        CNewEntryDialog dialog;
        dialog.m_pPluginArray = GetCurrentPluginArray();
        dialog.EditEntry(typed[0], typed[1], typed[2], typed[3]);
        if (dialog.DoModal() != IDOK)
            return;
        typed = {dialog.m_strLabel, dialog.m_strAddress, dialog.m_strStartPath, dialog.m_strPluginFile};
        if (m_pStore->UpdateRow(row, typed[0], typed[1], typed[2], typed[3]))
            break;
        const int answer = MessageBox(kEntryGone + QStringLiteral("\nSollen Ihre Angaben als neuer Eintrag "
                                                                  "gespeichert werden? (Nein: zurück zu Ihren Angaben)"),
                                      MessageBoxFlags::YesNo | MessageBoxFlags::IconQuestion);
        if (answer == IDYES) {
            const qint64 added = m_pStore->Append(typed[0], typed[1], typed[2], typed[3]);
            Refill();
            SelectRow(added);
            return;
        }
    }
    TakeIn([selected, ordinal, &typed](CListBox *lines) {
        lines->RemoveLine(selected);
        lines->InsertListed(typed[0], ordinal);
    });
    SelectRow(row.rowid);
}

void CServerBookDialog::DuplicateEntry()
{
    const CListBox *list = GetListBox(EntryList);
    const int selected = CheckedSelection();
    if (selected == -1)
        return;
    const QString label = list->GetText(selected) + QStringLiteral(" (Kopie)");
    if (label.size() > CNewEntryDialog::kMaxChars) {
        MessageBox(QStringLiteral("Die Bezeichnung der Kopie wäre länger als %1 Zeichen; "
                                  "bitte kürzen Sie zuerst die Bezeichnung.").arg(CNewEntryDialog::kMaxChars),
                   MessageBoxFlags::Ok);
        return;
    }
    const qint64 row = m_pStore->Append(label, m_strServer, m_strStartDir, m_strPluginFile);
    TakeIn([this, row, &label](CListBox *lines) { lines->InsertListed(label, m_pStore->OrdinalOf(row)); });
    SelectRow(row);
}

// Selects the line of a row the dialog itself just added or changed.
void CServerBookDialog::SelectRow(qint64 rowid)
{
    CListBox *list = GetListBox(EntryList);
    const int ordinal = m_pStore ? m_pStore->OrdinalOf(rowid) : -1;
    const int line = list && ordinal != -1 ? list->FindItemData(ordinal) : -1;
    if (line == -1)
        return;
    list->SetCurSel(line);
    ShowDetails();
}

// A selection the user made: the line's entry is shown, or the user told
// that it went.
void CServerBookDialog::SelectedByUser()
{
    m_selectionLost = false;
    if (!ShowDetails())
        EntryGone();
}

// Finds an entry by any part of its texts, and selects it as the user would.
void CServerBookDialog::Search()
{
    if (!m_pStore)
        return;
    CSearchDialog dialog(*m_pStore, m_searchText, this);
    const bool chosen = dialog.exec() == QDialog::Accepted;
    m_searchText = dialog.SearchText();
    if (dialog.Index())
        m_searchIndex = dialog.Index();
    if (const std::optional<CSearchDialog::Chosen> found = dialog.ChosenEntry(); chosen && found)
        SelectFound(found->rowid, found->shown);
}

// Selects the line of a found entry, while the entry still holds what the
// search showed; otherwise tells the user and selects nothing.
void CServerBookDialog::SelectFound(qint64 rowid, const CServerBookStore::Entry &shown)
{
    if (!m_pStore->ListingCurrent())
        RelistKeepingSelection();
    CListBox *list = GetListBox(EntryList);
    const int ordinal = m_pStore->OrdinalOf(rowid);
    const int line = list && ordinal != -1 ? list->FindItemData(ordinal) : -1;
    if (line == -1 || m_pStore->EntryWithRowId(rowid) != shown) {
        MessageBox(QStringLiteral("Der gefundene Eintrag wurde inzwischen von einem anderen Programm geändert oder "
                                  "gelöscht; er wird nicht ausgewählt."),
                   MessageBoxFlags::Ok);
        return;
    }
    list->SetCurSel(line);
    SelectedByUser();
}

// F3: the next line after the selected one, wrapping at the end, whose entry
// matches the last search and still does in the book now.
void CServerBookDialog::FindNext()
{
    if (!m_searchIndex || m_searchText.trimmed().isEmpty()) {
        Search();
        return;
    }
    if (!m_pStore->ListingCurrent())
        RelistKeepingSelection();
    CListBox *list = GetListBox(EntryList);
    if (!list || list->GetCount() == 0)
        return;
    std::vector<qint64> matchOfOrdinal(size_t(list->GetCount()), -1);
    for (const int index : m_searchIndex->Find(m_searchText).first) {
        const qint64 rowid = m_searchIndex->RowIdAt(index);
        const int ordinal = m_pStore->OrdinalOf(rowid);
        if (ordinal >= 0 && size_t(ordinal) < matchOfOrdinal.size())
            matchOfOrdinal[size_t(ordinal)] = rowid;
    }
    const int count = list->GetCount();
    const int from = list->GetCurSel();
    for (int step = 1; step <= count; ++step) {
        const int line = (from + step + count) % count;
        const int ordinal = list->GetItemData(line);
        const qint64 rowid = ordinal >= 0 && size_t(ordinal) < matchOfOrdinal.size() ? matchOfOrdinal[size_t(ordinal)] : -1;
        if (rowid == -1)
            continue;
        const std::optional<CServerBookStore::Entry> now = m_pStore->EntryWithRowId(rowid);
        if (now && CEntrySearch::Matches(m_searchText, now->label, now->server, now->startDir)) {
            list->SetCurSel(line);
            SelectedByUser();
            return;
        }
    }
    MessageBox(QStringLiteral("Kein Eintrag enthält \"%1\".").arg(m_searchText.trimmed()), MessageBoxFlags::Ok);
}

// Puts the selected entry on the clipboard as a link, as text and as a URL.
void CServerBookDialog::CopyAddress()
{
    const CListBox *list = GetListBox(EntryList);
    if (!list || list->GetCurSel() == -1 || !m_pStore || !SelectionStillMeant())
        return;
    if (!ShowDetails()) {
        EntryGone();
        return;
    }
    const QString link = LinkOfEntry(m_strServer, m_strStartDir);
    if (link.isEmpty()) {
        MessageBox(QStringLiteral("Die Adresse \"%1\" ist kein Link und wird nicht kopiert.").arg(m_strServer),
                   MessageBoxFlags::Ok);
        return;
    }
    auto *data = new QMimeData;
    data->setText(link);
    data->setUrls({QUrl(link)});
    QGuiApplication::clipboard()->setMimeData(data);
}

// Opens the new entry dialog filled in from a link on the clipboard; the
// user confirms it as with "Neu ...".
void CServerBookDialog::PasteAddress()
{
    if (!m_pStore || RefusedAsReadOnly())
        return;
    const QMimeData *data = QGuiApplication::clipboard()->mimeData();
    const QString text = data && data->hasUrls() && !data->urls().isEmpty()
                             ? data->urls().first().toString(QUrl::FullyEncoded)
                             : QGuiApplication::clipboard()->text();
    QString why;
    const std::optional<BookEntry> entry = EntryOfLink(text, loadedWorkers(), &why);
    if (!entry) {
        MessageBox(why, MessageBoxFlags::Ok);
        return;
    }
    AddEntry([&entry](CNewEntryDialog &dialog) {
        dialog.Prefill(entry->label, entry->server, entry->startDir, entry->pluginFile);
    });
}
