#include "exchangeactions.h"

#include "booklistview.h"
#include "bookexport.h"
#include "cserverbookstore.h"
#include "filezillawriter.h"
#include "loadedworkers.h"
#include "messagebox.h"
#include "siteimport.h"

#include <QFileDialog>

namespace {

// The most lines a message lists; more are left at "…".
constexpr int kListedAtMost = 15;

QString listedAtMost(QStringList lines)
{
    if (lines.size() > kListedAtMost) {
        lines = lines.mid(0, kListedAtMost);
        lines << QStringLiteral("…");
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace

void ExchangeActions::Import()
{
    if (m_view.RefusedAsReadOnly())
        return;
    QFileDialog files(m_view.Window(), QStringLiteral("Serverlisten importieren"));
    files.setOption(QFileDialog::DontUseNativeDialog);
    files.setFileMode(QFileDialog::ExistingFiles);
    files.setNameFilters({QStringLiteral("Serverlisten von FileZilla, WinSCP, Cyberduck (*.xml *.ini *.duck)"),
                          QStringLiteral("Alle Dateien (*)")});
    CServerBookStore *book = m_view.Book();
    if (files.exec() != QDialog::Accepted || !book)
        return;
    const std::vector<WorkerInfo> workers = LoadedWorkers();
    ReadResult read = ReadSites(files.selectedFiles());
    if (!read.ok()) {
        m_view.Tell(QStringLiteral("Die Serverliste konnte nicht gelesen werden; nichts wurde importiert.\n\n%1")
                        .arg(read.error),
                    MessageBoxFlags::Ok);
        return;
    }
    // Duplicates are judged against the book as it is when the sites are
    // stored, in one transaction with the storing.
    ImportPlan plan;
    book->AppendChosen([&] {
        plan = PlanImport(std::exchange(read.sites, {}), workers, ReadBook(*book), false);
        return plan.rows();
    });
    m_view.Refill();
    QStringList skipped;
    for (const ImportItem &item : plan.items) {
        if (!item.imported)
            skipped << QStringLiteral("%1: %2").arg(item.entry.label, item.reason);
    }
    QString summary = QStringLiteral("%1 Einträge importiert, %2 übersprungen.").arg(plan.importedCount()).arg(skipped.size());
    if (!skipped.isEmpty())
        summary += QStringLiteral("\n\n") + listedAtMost(skipped);
    m_view.Tell(summary, MessageBoxFlags::Ok);
}

void ExchangeActions::Export()
{
    const QString fileZilla = QStringLiteral("FileZilla-Servermanager (*.xml)");
    const QString json = QStringLiteral("JSON (*.json)");
    QFileDialog files(m_view.Window(), QStringLiteral("Serverbook exportieren"));
    files.setOption(QFileDialog::DontUseNativeDialog);
    files.setAcceptMode(QFileDialog::AcceptSave);
    files.setNameFilters({fileZilla, json, QStringLiteral("CSV (*.csv)")});
    CServerBookStore *book = m_view.Book();
    if (files.exec() != QDialog::Accepted || files.selectedFiles().isEmpty() || !book)
        return;
    if (book->ChangedSinceListing())
        m_view.Refill();
    const std::vector<BookEntry> entries = ReadBook(*book);
    int leftOut = 0;
    QStringList changed = EntriesNotReadable(entries);
    const QString filter = files.selectedNameFilter();
    const QByteArray content = filter == fileZilla ? WriteFileZilla(entries, &leftOut, &changed)
                               : filter == json    ? BookToJson(entries)
                                                   : BookToCsv(entries);
    QString why;
    if (!SaveWhole(files.selectedFiles().first(), book->File(), content, &why)) {
        m_view.Tell(QStringLiteral("Die Datei konnte nicht geschrieben werden: %1").arg(why), MessageBoxFlags::Ok);
        return;
    }
    QStringList notes;
    if (leftOut)
        notes << QStringLiteral("%1 Einträge ohne FileZilla-Protokoll (etwa lokale Pfade) wurden ausgelassen.")
                     .arg(leftOut);
    if (!changed.isEmpty())
        notes << listedAtMost(changed);
    if (!notes.isEmpty())
        m_view.Tell(notes.join(QLatin1Char('\n')), MessageBoxFlags::Ok);
}
