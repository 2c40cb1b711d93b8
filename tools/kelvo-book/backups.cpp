#include "backups.h"

#include "bookexport.h"
#include "cbookbackups.h"
#include "cserverbookstore.h"
#include "storeerror.h"
#include "toolsupport.h"

namespace {

const char *changeWord(CBookBackups::Change change)
{
    switch (change) {
    case CBookBackups::Change::Added:
        return "kommt zurück";
    case CBookBackups::Change::Removed:
        return "fällt weg";
    case CBookBackups::Change::Changed:
        break;
    }
    return "wird geändert";
}

} // namespace

int ListBackups(const QString &file)
{
    const CBookBackups backups(file);
    const auto list = backups.List();
    // No backups and no book: a wrong folder, which an empty list would hide.
    if (list.empty())
        CServerBookStore().Open(file);
    QString bookProblem;
    for (const CBookBackups::Backup &backup : list) {
        QString difference;
        if (!backup.complete()) {
            difference = QStringLiteral("beschädigt: ") + backup.problem;
        } else {
            try {
                difference = backups.Compare(backup.name).Summary();
            } catch (const StoreError &error) {
                difference = QStringLiteral("?");
                bookProblem = error.message();
            }
        }
        out() << backup.name << '\t' << backup.made.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) << '\t'
              << (backup.complete() ? QString::number(backup.entries) : QStringLiteral("-")) << '\t'
              << EscapedForLine(difference) << '\n';
    }
    if (!bookProblem.isEmpty())
        err() << "kelvo-book: nicht verglichen: " << bookProblem << Qt::endl;
    return 0;
}

int RestoreBackup(CServerBookStore &store, const QString &file, const QString &name, bool dryRun)
{
    const CBookBackups backups(file);
    const QString path = backups.PathOf(name);
    if (path.isEmpty()) {
        err() << "kelvo-book: Es gibt keine Sicherung \"" << EscapedForLine(name) << "\" (siehe kelvo-book backups)."
              << Qt::endl;
        return 1;
    }
    if (dryRun) {
        const CBookBackups::Backup checked = backups.Inspect(name);
        if (!checked.complete())
            throw StoreError::InBackup(path, checked.problem);
        const auto difference = backups.Compare(name, [](CBookBackups::Change change, const QString &label) {
            out() << changeWord(change) << '\t' << EscapedForLine(label) << '\n';
        });
        out() << difference.Summary() << " (Probelauf: nichts wurde geändert)\n";
        return 0;
    }
    const CBookBackups::Difference difference = backups.Compare(name);
    store.Open(file);
    store.RestoreFrom(path);
    out() << "Wiederhergestellt aus " << name << ": " << store.ListAll().size() << " Einträge ("
          << difference.Summary() << "); der vorige Stand ist gesichert als " << store.BackupMade() << '\n';
    return 0;
}
