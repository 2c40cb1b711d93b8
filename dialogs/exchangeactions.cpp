#include "exchangeactions.h"

#include "booklistview.h"
#include "bookexport.h"
#include "busywait.h"
#include "cserverbookstore.h"
#include "filezillawriter.h"
#include "keyring.h"
#include "keyringwait.h"
#include "loadedworkers.h"
#include "messagebox.h"
#include "siteimport.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QProgressDialog>
#include <QScopeGuard>

#include <atomic>

namespace {

// Where another client keeps its site list, if it is there; the user's
// home otherwise: where a file dialog starts.
QString startFolder()
{
    const QString home = QDir::homePath();
    for (const char *folder : {"/.config/filezilla", "/.filezilla"}) {
        if (QFileInfo::exists(home + QLatin1String(folder) + QStringLiteral("/sitemanager.xml")))
            return home + QLatin1String(folder);
    }
    return home;
}

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

// Reads the site lists on a thread of their own, with a progress dialog when
// it takes a while: a list of a million sites takes seconds, and the window
// goes on painting meanwhile.
ReadResult readShowingProgress(QWidget *window, const QStringList &paths)
{
    QProgressDialog progress(QStringLiteral("Die Serverlisten werden gelesen …"), QString(), 0, 100, window);
    progress.setWindowTitle(QStringLiteral("Importieren"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(300);
    progress.setValue(0);
    std::atomic<int> told{0};
    ReadResult read;
    WaitWhileBusy(window, [&] {
        read = ReadSites(paths, [&](qint64 done, qint64 total) {
            // Each percent once: the window is not flooded with updates.
            const int percent = total > 0 ? int(100 * done / total) : 0;
            if (told.exchange(percent) != percent)
                QMetaObject::invokeMethod(&progress, [&progress, percent] { progress.setValue(percent); },
                                          Qt::QueuedConnection);
        });
    });
    return read;
}

} // namespace

void ExchangeActions::Import()
{
    if (m_view.RefusedAsReadOnly())
        return;
    QFileDialog files(m_view.Window(), QStringLiteral("Serverlisten importieren"));
    files.setOption(QFileDialog::DontUseNativeDialog);
    files.setFileMode(QFileDialog::ExistingFiles);
    files.setDirectory(startFolder());
    files.setNameFilters({QStringLiteral("Serverlisten von FileZilla, WinSCP, Cyberduck (*.xml *.ini *.duck)"),
                          QStringLiteral("Alle Dateien (*)")});
    CServerBookStore *book = m_view.Book();
    if (files.exec() != QDialog::Accepted || !book)
        return;
    const std::vector<WorkerInfo> workers = LoadedWorkers();
    ReadResult read = readShowingProgress(m_view.Window(), files.selectedFiles());
    if (!read.ok()) {
        m_view.Tell(QStringLiteral("Die Serverliste konnte nicht gelesen werden; nichts wurde importiert.\n\n%1")
                        .arg(read.error),
                    MessageBoxFlags::Ok);
        return;
    }
    // Duplicates are judged against the book as it is when the sites are
    // stored, in one transaction with the storing.
    ImportPlan plan;
    {
        QApplication::setOverrideCursor(Qt::BusyCursor);
        const auto cursor = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
        book->AppendChosen([&] {
            plan = PlanImport(std::exchange(read.sites, {}), workers, ReadBook(*book), false);
            return plan.rows();
        });
        m_view.Refill();
    }
    QStringList skipped;
    for (const ImportItem &item : plan.items) {
        if (!item.imported)
            skipped << QStringLiteral("%1: %2").arg(item.entry.label, item.reason);
    }
    QString summary = QStringLiteral("%1 Einträge importiert, %2 übersprungen.").arg(plan.importedCount()).arg(skipped.size());
    if (!skipped.isEmpty())
        summary += QStringLiteral("\n\n") + listedAtMost(skipped);
    m_view.Tell(summary, MessageBoxFlags::Ok);
    offerPasswords(plan);
}

// The passwords a site list held never reach the book; the user may have
// them kept in the keyring instead.
void ExchangeActions::offerPasswords(const ImportPlan &plan)
{
    std::vector<std::pair<SignInKey, QString>> passwords;
    for (const ImportItem &item : plan.items) {
        if (item.password.isEmpty() || item.entry.server.isEmpty())
            continue;
        if (const std::optional<SignInKey> key = SignInKeyOf(item.entry.server))
            passwords.emplace_back(*key, item.password);
    }
    if (passwords.empty())
        return;
    const QString counted = passwords.size() == 1 ? QStringLiteral("ein Passwort")
                                                  : QStringLiteral("%1 Passwörter").arg(passwords.size());
    const int answer = m_view.Tell(QStringLiteral("Die Serverliste enthält %1. Im Serverbook werden Passwörter nie "
                                                  "gespeichert.\n\nSollen sie im Schlüsselbund der Arbeitsumgebung "
                                                  "gespeichert werden? (Nein: Sie werden verworfen.)")
                                       .arg(counted),
                                   MessageBoxFlags::YesNo | MessageBoxFlags::IconQuestion);
    if (answer != IDYES)
        return;
    int kept = 0;
    const KeyringAnswer last = WaitForKeyring(m_view.Window(), [&passwords, &kept](const KeyringCancel *cancel) {
        KeyringAnswer answer;
        for (const auto &[key, password] : passwords) {
            answer = Keyring::Store(key, password, cancel);
            if (!answer.reached())
                return answer;
            ++kept;
        }
        return answer;
    });
    if (!last.reached())
        m_view.Tell(QStringLiteral("%1 von %2 Passwörtern liegen im Schlüsselbund, die übrigen nicht. %3")
                        .arg(kept)
                        .arg(passwords.size())
                        .arg(last.why),
                    MessageBoxFlags::Ok);
}

void ExchangeActions::Export()
{
    const QString fileZilla = QStringLiteral("FileZilla-Servermanager (*.xml)");
    const QString json = QStringLiteral("JSON (*.json)");
    QFileDialog files(m_view.Window(), QStringLiteral("Serverbook exportieren"));
    files.setOption(QFileDialog::DontUseNativeDialog);
    files.setAcceptMode(QFileDialog::AcceptSave);
    files.setDirectory(QDir::homePath());
    files.setNameFilters({fileZilla, json, QStringLiteral("CSV (*.csv)")});
    // A name typed without one gets the chosen format's suffix.
    const auto suffixOf = [](const QString &filter) { return filter.section(QStringLiteral("*."), 1).chopped(1); };
    files.setDefaultSuffix(suffixOf(fileZilla));
    QObject::connect(&files, &QFileDialog::filterSelected, &files,
                     [&files, suffixOf](const QString &filter) { files.setDefaultSuffix(suffixOf(filter)); });
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
    QStringList notes{QStringLiteral("%1 Einträge exportiert nach %2.")
                          .arg(entries.size() - size_t(leftOut))
                          .arg(QDir::toNativeSeparators(files.selectedFiles().first()))};
    if (leftOut)
        notes << QStringLiteral("%1 Einträge ohne FileZilla-Protokoll (etwa lokale Pfade) wurden ausgelassen.")
                     .arg(leftOut);
    if (!changed.isEmpty())
        notes << listedAtMost(changed);
    m_view.Tell(notes.join(QLatin1Char('\n')), MessageBoxFlags::Ok);
}
