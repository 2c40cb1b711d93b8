#include "backupactions.h"

#include "booklistview.h"
#include "cbookbackups.h"
#include "crestoredialog.h"
#include "cserverbookstore.h"
#include "messagebox.h"

void BackupActions::Restore()
{
    CServerBookStore *book = m_view.Book();
    if (!book || m_view.RefusedAsReadOnly())
        return;
    const CBookBackups backups(book->File());
    CRestoreDialog dialog(backups, m_view.Window());
    if (dialog.exec() != QDialog::Accepted || dialog.ChosenBackup().isEmpty())
        return;
    const int answer = m_view.Tell(QStringLiteral("Soll das Serverbook wirklich auf diese Sicherung zurückgesetzt werden?\n"
                                                  "%1\n"
                                                  "Der jetzige Stand wird vorher gesichert.")
                                       .arg(dialog.ChosenDescription()),
                                   MessageBoxFlags::YesNo | MessageBoxFlags::IconQuestion | MessageBoxFlags::DefaultButton2);
    if (answer != IDYES)
        return;
    book->RestoreFrom(backups.PathOf(dialog.ChosenBackup()));
    m_view.Refill();
}
