#include "imports.h"

#include "bookexport.h"
#include "cserverbookstore.h"
#include "passwords.h"
#include "progress.h"
#include "siteimport.h"
#include "toolsupport.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace {

// A site's outcome as JSON, for scripts: whether it was imported, the
// entry it became or the site's label with the reason it was skipped.
void appendOutcomeAsJson(QByteArray &out, const ImportItem &item)
{
    QJsonObject outcome{{QStringLiteral("imported"), item.imported}, {QStringLiteral("label"), item.entry.label}};
    if (item.imported) {
        outcome.insert(QStringLiteral("server"), item.entry.server);
        outcome.insert(QStringLiteral("startdir"), item.entry.startDir);
        outcome.insert(QStringLiteral("pluginfile"), item.entry.pluginFile);
    } else {
        outcome.insert(QStringLiteral("reason"), item.reason);
    }
    out += QJsonDocument(outcome).toJson(QJsonDocument::Compact);
}

// A site's outcome as a line: "importiert" with the entry's texts, or
// "übersprungen" with the label and the reason.
void appendOutcomeAsLine(QByteArray &out, const ImportItem &item)
{
    const auto appendTexts = [&out](std::initializer_list<const QString *> texts) {
        for (const QString *text : texts) {
            out += '\t';
            AppendEscapedForLine(out, *text);
        }
    };
    if (item.imported) {
        out += "importiert";
        appendTexts({&item.entry.label, &item.entry.server, &item.entry.startDir, &item.entry.pluginFile});
    } else {
        out += "übersprungen";
        appendTexts({&item.entry.label, &item.reason});
    }
}

// Every site's outcome, one to a line, written in large pieces as it is
// made: an import may bring a million sites. JSON is one array.
void writeOutcomes(const ImportPlan &plan, bool json)
{
    flushOutput();
    QByteArray out = json ? "[\n" : "";
    for (const ImportItem &item : plan.items) {
        if (json)
            appendOutcomeAsJson(out, item);
        else
            appendOutcomeAsLine(out, item);
        out += json && &item != &plan.items.back() ? ",\n" : "\n";
        if (out.size() >= 256 * 1024) {
            std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
            out.truncate(0);
        }
    }
    if (json)
        out += "]\n";
    std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
}


} // namespace

int ImportSites(CServerBookStore &store, const std::vector<WorkerInfo> &workers, const QStringList &paths,
                const ImportOptions &options)
{
    ReadResult read;
    {
        CProgress progress(QStringLiteral("Serverlisten gelesen"), QStringLiteral("MB"), 1024 * 1024);
        read = ReadSites(paths, [&progress](qint64 done, qint64 total) { progress.Show(done, total); });
    }
    if (!read.ok()) {
        err() << "kelvo-book: " << read.error << "; nichts wurde importiert." << Qt::endl;
        return 1;
    }
    // The check for duplicates and the storing are one transaction, so that
    // two imports at once cannot both add the same sites.
    ImportPlan plan;
    const auto choose = [&] {
        plan = PlanImport(std::exchange(read.sites, {}), workers, ReadBook(store), options.keepUnmatched);
        return plan.rows();
    };
    if (options.dryRun)
        choose();
    else
        store.AppendChosen(choose);
    writeOutcomes(plan, options.json);
    if (!options.json)
        out() << plan.importedCount() << " importiert, " << plan.items.size() - size_t(plan.importedCount())
              << " übersprungen" << (options.dryRun ? " (Probelauf: nichts wurde geändert)" : "") << '\n';
    flushOutput();
    return options.passwords && !options.dryRun ? KeepImportedPasswords(plan) : TellPasswordsLeft(plan);
}

