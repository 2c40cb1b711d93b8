#include "listings.h"

#include "bookexport.h"
#include "centrysearch.h"
#include "cserverbookstore.h"
#include "progress.h"
#include "toolsupport.h"

#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <functional>

namespace {

// Writes entries as feed hands them over: to standard output as they come,
// or to target whole or not at all. An export (tellChanges) says on
// standard error what the format left out or shows otherwise than the book
// holds it.
int writeEntries(CBookWriter::Format format, const QString &target, const QString &book, bool tellChanges,
                 const std::function<void(CBookWriter &)> &feed)
{
    flushOutput();
    QFile standardOutput;
    QSaveFile file(target);
    QIODevice *device = &file;
    if (target.isEmpty()) {
        standardOutput.open(stdout, QIODevice::WriteOnly);
        device = &standardOutput;
    } else if (QString why; !OpenExportTarget(file, book, &why)) {
        err() << "kelvo-book: " << target << ": " << why << "; nichts wurde geschrieben." << Qt::endl;
        return 1;
    }
    CBookWriter writer(format, device);
    feed(writer);
    bool written = writer.Finish();
    if (tellChanges && writer.LeftOut())
        err() << "kelvo-book: " << writer.LeftOut()
              << " Einträge ohne FileZilla-Protokoll (etwa lokale Pfade) wurden ausgelassen." << Qt::endl;
    for (const QString &note : tellChanges ? writer.Notes() : QStringList())
        err() << "kelvo-book: " << note << Qt::endl;
    if (target.isEmpty()) {
        if (written && standardOutput.flush())
            return 0;
        err() << "kelvo-book: Die Ausgabe konnte nicht geschrieben werden." << Qt::endl;
        return 1;
    }
    if (written && file.commit())
        return 0;
    err() << "kelvo-book: " << target << ": " << file.errorString() << "; nichts wurde geschrieben." << Qt::endl;
    return 1;
}

// Every entry, as it is read, with progress on a terminal.
void feedBook(CServerBookStore &store, CBookWriter &writer)
{
    const qint64 total = store.CountRows();
    CProgress progress(QStringLiteral("Einträge"), QStringLiteral("Einträge"));
    qint64 done = 0;
    ForEachEntry(store, [&](const BookEntry &entry) {
        writer.Add(entry);
        progress.Show(++done, std::max(done, total));
    });
}

} // namespace

int ListEntries(CServerBookStore &store, bool json)
{
    return writeEntries(json ? CBookWriter::Format::Json : CBookWriter::Format::Lines, {}, {}, false,
                        [&store](CBookWriter &writer) { feedBook(store, writer); });
}

int FindEntries(CServerBookStore &store, const QString &text, bool json)
{
    // The search's reading is a listing: the nth entry read has ordinal n.
    const CEntrySearch search = CEntrySearch::Read(store);
    const std::vector<int> found = search.Find(text).first;
    // As grep: no match is 1.
    if (found.empty())
        return 1;
    return writeEntries(json ? CBookWriter::Format::Json : CBookWriter::Format::Lines, {}, {}, false, [&](CBookWriter &writer) {
        for (const int index : found) {
            if (const auto entry = store.EntryWithRowId(search.RowIdAt(index)))
                writer.Add({index, entry->label, entry->server, entry->startDir, entry->pluginFile});
        }
    });
}

int ExportBook(CServerBookStore &store, const QString &format, const QString &target)
{
    const CBookWriter::Format chosen = format == QLatin1String("json") ? CBookWriter::Format::Json
                                       : format == QLatin1String("csv") ? CBookWriter::Format::Csv
                                                                        : CBookWriter::Format::FileZilla;
    return writeEntries(chosen, target, store.File(), true, [&store](CBookWriter &writer) { feedBook(store, writer); });
}
