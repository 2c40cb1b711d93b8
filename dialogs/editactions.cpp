#include "editactions.h"

#include "booklistview.h"
#include "clistbox.h"
#include "cnewentrydialog.h"
#include "cpluginhost.h"
#include "cserverbookstore.h"
#include "messagebox.h"
#include "signinactions.h"

// The selection as CheckedSelection gives it, for a change: -1, after
// telling the user why, when the book may only be read.
int EditActions::selectionToChange()
{
    const CListBox *list = m_view.Lines();
    if (!list || list->GetCurSel() == -1 || !m_view.Book() || m_view.RefusedAsReadOnly())
        return -1;
    return m_view.CheckedSelection();
}

// Opens the entry dialog on the selected entry as it is stored now and writes
// what the user confirmed back into that row, while it still holds what the
// dialog opened with. When another program changed or deleted that row
// meanwhile, what the user typed stays: it can go in as a new entry, or the
// dialog opens again with it.
void EditActions::EditEntry()
{
    const CListBox *list = m_view.Lines();
    const int selected = selectionToChange();
    if (selected == -1)
        return;
    CServerBookStore *book = m_view.Book();
    const int ordinal = list->GetItemData(selected);
    const RowSnapshot row = m_view.Shown();
    QStringList typed{list->GetText(selected), m_view.ShownServer(), m_view.ShownStartDir(), m_view.ShownPluginFile()};
    for (;;) {
        CNewEntryDialog dialog;
        dialog.m_pPluginArray = GetCurrentPluginArray();
        dialog.EditEntry(typed[0], typed[1], typed[2], typed[3]);
        if (dialog.DoModal() != IDOK)
            return;
        typed = {dialog.m_strLabel, dialog.m_strAddress, dialog.m_strStartPath, dialog.m_strPluginFile};
        if (!m_signIn.TakePasswordOut(typed[1]))
            continue;
        if (book->UpdateRow(row, typed[0], typed[1], typed[2], typed[3]))
            break;
        const int answer = m_view.Tell(EntryGoneText() + QStringLiteral("\nSollen Ihre Angaben als neuer Eintrag "
                                                                        "gespeichert werden? (Nein: zurück zu Ihren Angaben)"),
                                       MessageBoxFlags::YesNo | MessageBoxFlags::IconQuestion);
        if (answer == IDYES) {
            const qint64 added = book->Append(typed[0], typed[1], typed[2], typed[3]);
            m_view.Refill();
            m_view.SelectRow(added);
            return;
        }
    }
    m_view.TakeIn([selected, ordinal, &typed](CListBox *lines) {
        lines->RemoveLine(selected);
        lines->InsertListed(typed[0], ordinal);
    });
    m_view.SelectRow(row.rowid);
}

void EditActions::DuplicateEntry()
{
    const CListBox *list = m_view.Lines();
    const int selected = selectionToChange();
    if (selected == -1)
        return;
    const QString label = list->GetText(selected) + QStringLiteral(" (Kopie)");
    if (label.size() > CNewEntryDialog::kMaxChars) {
        m_view.Tell(QStringLiteral("Die Bezeichnung der Kopie wäre länger als %1 Zeichen; "
                                   "bitte kürzen Sie zuerst die Bezeichnung.").arg(CNewEntryDialog::kMaxChars),
                    MessageBoxFlags::Ok);
        return;
    }
    CServerBookStore *book = m_view.Book();
    const qint64 row = book->Append(label, m_view.ShownServer(), m_view.ShownStartDir(), m_view.ShownPluginFile());
    m_view.TakeIn([book, row, &label](CListBox *lines) { lines->InsertListed(label, book->OrdinalOf(row)); });
    m_view.SelectRow(row);
}
