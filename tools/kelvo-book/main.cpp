// kelvo-book: creates, inspects and changes the server book store of a
// plug-in directory, through the same store code the module uses.

#include "bookexport.h"
#include "cbookbackups.h"
#include "cpluginhost.h"
#include "filezillaformat.h"
#include "siteimport.h"
#include "cserverbookstore.h"
#include "storeerror.h"

#include "toolsupport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHash>

#include <algorithm>

namespace {

constexpr int kUsage = 2;

const char *const kUsageText =
    "usage: kelvo-book [--plugin-dir DIR] init\n"
    "       kelvo-book [--plugin-dir DIR] list [--json]\n"
    "       kelvo-book [--plugin-dir DIR] add LABEL SERVER STARTDIR PLUGINFILE\n"
    "       kelvo-book [--plugin-dir DIR] delete ORDINAL [--label TEXT]\n"
    "       kelvo-book [--plugin-dir DIR] edit ORDINAL [--label TEXT] [--server TEXT]\n"
    "                  [--startdir TEXT] [--pluginfile TEXT] [--expect-label TEXT]\n"
    "       kelvo-book [--plugin-dir DIR] backups\n"
    "       kelvo-book [--plugin-dir DIR] restore [--dry-run] NAME\n"
    "       kelvo-book [--plugin-dir DIR] import [--dry-run] [--keep-unmatched] FILE...\n"
    "       kelvo-book [--plugin-dir DIR] export --format filezilla|json|csv [FILE]\n"
    "\n"
    "list prints one line per entry: ordinal, label, server, start directory and\n"
    "plug-in file, separated by tabs. In the texts a backslash, tab, carriage\n"
    "return and line feed are written as \\\\, \\t, \\r and \\n, so every entry is\n"
    "exactly one line. --json prints the entries as a JSON array instead.\n"
    "delete prints the line of the entry it deleted; with --label it deletes\n"
    "only when the entry at ORDINAL has that label. edit changes only the given\n"
    "fields and prints the entry as it is afterwards; with --expect-label it\n"
    "changes nothing unless the entry has that label. Texts may have at most\n"
    "128 characters.\n"
    "Every command that changes the book first copies it to DATA/backup/\n"
    "(the newest 10 are kept, and older ones for history). backups lists them,\n"
    "oldest first: name, time, entries, and what restoring would change\n"
    "(+ entries that come back / - entries that go / changed ones).\n"
    "restore NAME puts the rows of that backup back into the book, after\n"
    "backing up the state it replaces; --dry-run only prints what would change.\n"
    "import reads FileZilla (sitemanager.xml), WinSCP (WinSCP.ini) and Cyberduck\n"
    "(.duck files or a folder of them) site lists, recognised by their content,\n"
    "and adds their sites in one step: each gets a loaded publishing worker for\n"
    "its protocol, or is skipped with the reason (--keep-unmatched stores it\n"
    "without a worker). Credentials are never imported. --dry-run changes nothing.\n"
    "export writes the book for FileZilla, as JSON (as list --json) or as CSV.\n";

int usage()
{
    err() << kUsageText;
    return kUsage;
}

// The words after the command: positional arguments and --name VALUE or
// --flag options. A word such as "-1" is a positional argument.
struct CommandArgs {
    QStringList positional;
    QHash<QString, QString> values;
    QStringList flags;
    bool ok = true;

    CommandArgs(const QStringList &words, const QStringList &valueOptions, const QStringList &flagOptions)
    {
        for (qsizetype i = 0; i < words.size(); ++i) {
            const QString &word = words[i];
            if (!word.startsWith(QLatin1String("--"))) {
                positional << word;
            } else if (flagOptions.contains(word.mid(2))) {
                flags << word.mid(2);
            } else if (valueOptions.contains(word.mid(2)) && i + 1 < words.size()) {
                values.insert(word.mid(2), words[++i]);
            } else {
                ok = false;
            }
        }
    }

    // Whether no option beyond these was given.
    bool only(const QStringList &valueOptions, const QStringList &flagOptions = {}) const
    {
        const QStringList given = values.keys();
        return std::all_of(given.cbegin(), given.cend(), [&](const QString &o) { return valueOptions.contains(o); })
               && std::all_of(flags.cbegin(), flags.cend(), [&](const QString &o) { return flagOptions.contains(o); });
    }
};

// Keeps every entry on one line of tab-separated output.
QString escaped(QString text)
{
    return text.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
        .replace(QLatin1Char('\t'), QLatin1String("\\t"))
        .replace(QLatin1Char('\r'), QLatin1String("\\r"))
        .replace(QLatin1Char('\n'), QLatin1String("\\n"));
}

void printLine(const BookEntry &entry)
{
    out() << entry.ordinal << '\t' << escaped(entry.label) << '\t' << escaped(entry.server) << '\t'
          << escaped(entry.startDir) << '\t' << escaped(entry.pluginFile) << '\n';
}

int list(CServerBookStore &store, bool json)
{
    const std::vector<BookEntry> entries = ReadBook(store);
    if (json) {
        out() << BookToJson(entries);
        return 0;
    }
    for (const BookEntry &entry : entries)
        printLine(entry);
    return 0;
}

int importSites(CServerBookStore &store, const QString &pluginDir, const QStringList &paths, bool dryRun,
                bool keepUnmatched)
{
    QString why;
    const auto host = CPluginHost::Open(pluginDir, &why);
    if (!host) {
        err() << "kelvo-book: " << why << Qt::endl;
        return 1;
    }
    std::vector<WorkerInfo> workers;
    for (const auto &worker : host->Plugins()->PublishingWorkers())
        workers.push_back({worker.fileName, worker.service});
    const ReadResult read = ReadSites(paths);
    if (!read.ok()) {
        err() << "kelvo-book: " << read.error << "; nichts wurde importiert." << Qt::endl;
        return 1;
    }
    // The check for duplicates and the storing are one transaction, so that
    // two imports at once cannot both add the same sites.
    ImportPlan plan;
    const auto choose = [&] {
        plan = PlanImport(read.sites, workers, ReadBook(store), keepUnmatched);
        return plan.rows();
    };
    if (dryRun)
        choose();
    else
        store.AppendChosen(choose);
    for (const ImportItem &item : plan.items) {
        if (item.imported)
            out() << "importiert\t" << escaped(item.entry.label) << '\t' << escaped(item.entry.server) << '\t'
                  << escaped(item.entry.startDir) << '\t' << escaped(item.entry.pluginFile) << '\n';
        else
            out() << "übersprungen\t" << escaped(item.site.label) << '\t' << escaped(item.reason) << '\n';
    }
    out() << plan.importedCount() << " importiert, " << plan.items.size() - size_t(plan.importedCount())
          << " übersprungen" << (dryRun ? " (Probelauf: nichts wurde geändert)" : "") << '\n';
    return 0;
}

int exportBook(CServerBookStore &store, const QString &format, const QString &target)
{
    const std::vector<BookEntry> entries = ReadBook(store);
    QByteArray content;
    // What the file shows otherwise than the book holds it, entry by entry.
    QStringList changed = EntriesNotReadable(entries);
    if (format == QLatin1String("json")) {
        content = BookToJson(entries);
    } else if (format == QLatin1String("csv")) {
        content = BookToCsv(entries);
    } else {
        int leftOut = 0;
        content = WriteFileZilla(entries, &leftOut, &changed);
        if (leftOut)
            err() << "kelvo-book: " << leftOut
                  << " Einträge ohne FileZilla-Protokoll (etwa lokale Pfade) wurden ausgelassen." << Qt::endl;
    }
    for (const QString &note : std::as_const(changed))
        err() << "kelvo-book: " << note << Qt::endl;
    if (target.isEmpty()) {
        out().flush();
        std::fwrite(content.constData(), 1, size_t(content.size()), stdout);
        return 0;
    }
    QString why;
    if (!SaveWhole(target, content, &why)) {
        err() << "kelvo-book: " << target << ": " << why << "; nichts wurde geschrieben." << Qt::endl;
        return 1;
    }
    return 0;
}

// Refuses texts the dialogs could not hold either.
bool textsFit(const QStringList &texts)
{
    for (const QString &text : texts) {
        if (text.size() > CServerBookStore::kMaxTextChars) {
            err() << "kelvo-book: Texte dürfen höchstens " << CServerBookStore::kMaxTextChars
                  << " Zeichen lang sein; dieser hat " << text.size() << ": " << escaped(text.left(40))
                  << "…" << Qt::endl;
            return false;
        }
    }
    return true;
}

// The entry at ordinal, when there is one and it has the label expected
// (any without one); otherwise says why nothing was done, in the words of
// what would have been done ("gelöscht", "geändert").
std::optional<BookEntry> entryToChange(CServerBookStore &store, int ordinal, const std::optional<QString> &expected,
                                       const char *done)
{
    if (!store.PositionAt(ordinal)) {
        err() << "kelvo-book: Es gibt keinen Eintrag " << ordinal << '.' << Qt::endl;
        return std::nullopt;
    }
    const BookEntry entry = ReadCurrentEntry(store, ordinal);
    if (expected && *expected != entry.label) {
        err() << "kelvo-book: Eintrag " << ordinal << " heißt \"" << escaped(entry.label) << "\", nicht \""
              << escaped(*expected) << "\"; nichts wurde " << done << '.' << Qt::endl;
        return std::nullopt;
    }
    return entry;
}

void reportChangedMeanwhile(int ordinal, const char *done)
{
    err() << "kelvo-book: Eintrag " << ordinal << " wurde inzwischen von einem anderen Programm geändert oder "
          << "gelöscht; nichts wurde " << done << '.' << Qt::endl;
}

int editEntry(CServerBookStore &store, int ordinal, const QHash<QString, QString> &values)
{
    const auto expected = values.contains(QStringLiteral("expect-label"))
                              ? std::optional<QString>(values.value(QStringLiteral("expect-label")))
                              : std::nullopt;
    std::optional<BookEntry> entry = entryToChange(store, ordinal, expected, "geändert");
    if (!entry)
        return 1;
    entry->label = values.value(QStringLiteral("label"), entry->label);
    entry->server = values.value(QStringLiteral("server"), entry->server);
    entry->startDir = values.value(QStringLiteral("startdir"), entry->startDir);
    entry->pluginFile = values.value(QStringLiteral("pluginfile"), entry->pluginFile);
    if (!textsFit({entry->label, entry->server, entry->startDir, entry->pluginFile}))
        return 1;
    if (!store.UpdateCurrent(entry->label, entry->server, entry->startDir, entry->pluginFile)) {
        reportChangedMeanwhile(ordinal, "geändert");
        return 1;
    }
    printLine(*entry);
    return 0;
}

// One line per backup, oldest first: name, local time, entries, and what
// restoring it would change in the book now.
int listBackups(const QString &file)
{
    const CBookBackups backups(file);
    QString bookProblem;
    for (const CBookBackups::Backup &backup : backups.List()) {
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
              << escaped(difference) << '\n';
    }
    if (!bookProblem.isEmpty())
        err() << "kelvo-book: nicht verglichen: " << bookProblem << Qt::endl;
    return 0;
}

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

int restore(CServerBookStore &store, const QString &file, const QString &name, bool dryRun)
{
    const CBookBackups backups(file);
    const QString path = backups.PathOf(name);
    if (path.isEmpty()) {
        err() << "kelvo-book: Es gibt keine Sicherung \"" << escaped(name) << "\" (siehe kelvo-book backups)."
              << Qt::endl;
        return 1;
    }
    if (dryRun) {
        const CBookBackups::Backup checked = backups.Inspect(name);
        if (!checked.complete())
            throw StoreError::InBackup(path, checked.problem);
        const auto difference = backups.Compare(name, [](CBookBackups::Change change, const QString &label) {
            out() << changeWord(change) << '\t' << escaped(label) << '\n';
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

int deleteEntry(CServerBookStore &store, int ordinal, const std::optional<QString> &expectedLabel)
{
    const std::optional<BookEntry> entry = entryToChange(store, ordinal, expectedLabel, "gelöscht");
    if (!entry)
        return 1;
    if (!store.DeleteCurrent()) {
        reportChangedMeanwhile(ordinal, "gelöscht");
        return 1;
    }
    printLine(*entry);
    return 0;
}

std::optional<int> ordinalOf(const QString &word)
{
    bool isNumber = false;
    const int ordinal = word.toInt(&isNumber);
    if (!isNumber || ordinal < 0)
        return std::nullopt;
    return ordinal;
}

int run(const QString &pluginDir, const QStringList &words)
{
    const QString file = CServerBookStore::FileIn(pluginDir);
    const QString command = words.value(0);
    const QStringList fields = {QStringLiteral("label"), QStringLiteral("server"), QStringLiteral("startdir"),
                                QStringLiteral("pluginfile")};
    const CommandArgs args(words.mid(1),
                           fields + QStringList{QStringLiteral("expect-label"), QStringLiteral("format")},
                           {QStringLiteral("json"), QStringLiteral("dry-run"), QStringLiteral("keep-unmatched")});
    if (!args.ok)
        return usage();
    const QStringList &positional = args.positional;

    if (command == QLatin1String("init") && positional.isEmpty() && args.only({})) {
        CServerBookStore::Create(file);
        return 0;
    }
    CServerBookStore store;
    if (command == QLatin1String("list") && positional.isEmpty() && args.only({}, {QStringLiteral("json")})) {
        store.Open(file);
        return list(store, args.flags.contains(QLatin1String("json")));
    }
    if (command == QLatin1String("add") && positional.size() == 4 && args.only({})) {
        if (!textsFit(positional))
            return 1;
        store.Open(file);
        store.Append(positional[0], positional[1], positional[2], positional[3]);
        return 0;
    }
    if (command == QLatin1String("edit") && positional.size() == 1
        && args.only(fields + QStringList{QStringLiteral("expect-label")})) {
        const std::optional<int> ordinal = ordinalOf(positional[0]);
        if (!ordinal)
            return usage();
        store.Open(file);
        return editEntry(store, *ordinal, args.values);
    }
    if (command == QLatin1String("import") && !positional.isEmpty()
        && args.only({}, {QStringLiteral("dry-run"), QStringLiteral("keep-unmatched")})) {
        store.Open(file);
        return importSites(store, pluginDir, positional, args.flags.contains(QLatin1String("dry-run")),
                           args.flags.contains(QLatin1String("keep-unmatched")));
    }
    const QString format = args.values.value(QStringLiteral("format"));
    if (command == QLatin1String("export") && positional.size() <= 1 && args.only({QStringLiteral("format")})
        && QStringList({"filezilla", "json", "csv"}).contains(format)) {
        store.Open(file);
        return exportBook(store, format, positional.value(0));
    }
    if (command == QLatin1String("backups") && positional.isEmpty() && args.only({}))
        return listBackups(file);
    if (command == QLatin1String("restore") && positional.size() == 1 && args.only({}, {QStringLiteral("dry-run")}))
        return restore(store, file, positional[0], args.flags.contains(QLatin1String("dry-run")));
    if (command == QLatin1String("delete") && positional.size() == 1 && args.only({QStringLiteral("label")})) {
        const std::optional<int> ordinal = ordinalOf(positional[0]);
        if (!ordinal)
            return usage();
        store.Open(file);
        const auto label = args.values.contains(QStringLiteral("label"))
                               ? std::optional<QString>(args.values.value(QStringLiteral("label")))
                               : std::nullopt;
        return deleteEntry(store, *ordinal, label);
    }
    return usage();
}

} // namespace

int main(int argc, char *argv[])
{
    if (!wordsAreUtf8("kelvo-book", argc, argv))
        return 2;
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kelvo-book"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Creates, inspects and changes the server book store.\n\n")
                                     + QString::fromUtf8(kUsageText));
    parser.addHelpOption();
    const QCommandLineOption dirOption = pluginDirOption();
    parser.addOption(dirOption);
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("init | list | add | delete | edit | backups | restore | import | export"));
    // Everything after the command is the command's own, "-1" included.
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    parser.process(app);

    int rc;
    try {
        rc = run(parser.value(dirOption), parser.positionalArguments());
    } catch (const StoreError &error) {
        rc = 1;
        flushOutput();
        err() << "kelvo-book: " << error.message() << Qt::endl;
    }
    return finishOutput(QStringLiteral("kelvo-book"), rc);
}
