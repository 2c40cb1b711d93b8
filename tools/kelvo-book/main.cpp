// kelvo-book: creates, inspects and changes the server book store of a
// plug-in directory, through the same store code the module uses.

#include "bookexport.h"
#include "cpluginhost.h"
#include "siteimport.h"
#include "cserverbookstore.h"
#include "storeerror.h"

#include "backups.h"
#include "checks.h"
#include "commandhelp.h"
#include "imports.h"
#include "listings.h"
#include "passwords.h"
#include "pluginfolders.h"
#include "toolsupport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHash>

namespace {

constexpr int kUsage = 2;

// Wrong usage: one line that says what was wrong, one where help is.
int usage(const QString &problem, const QString &command = {})
{
    err() << "kelvo-book: " << problem << '\n'
          << (IsCommand(command) ? QStringLiteral("kelvo-book %1 --help zeigt den Aufruf.").arg(command)
                                 : QStringLiteral("kelvo-book --help zeigt die Befehle."))
          << Qt::endl;
    return kUsage;
}

// The words after the command: positional arguments and --name VALUE or
// --flag options. A word such as "-1" is a positional argument.
struct CommandArgs {
    QStringList positional;
    QHash<QString, QString> values;
    QStringList flags;
    QString wrongWord; // the first option not known or lacking its value

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
            } else if (wrongWord.isEmpty()) {
                wrongWord = word;
            }
        }
    }
};

void printLine(const BookEntry &entry)
{
    out() << entry.ordinal << '\t' << EscapedForLine(entry.label) << '\t' << EscapedForLine(entry.server) << '\t'
          << EscapedForLine(entry.startDir) << '\t' << EscapedForLine(entry.pluginFile) << '\n';
}

// The publishing workers the host loads from the plug-in folders; none,
// after saying why, when it cannot load them.
std::optional<std::vector<WorkerInfo>> loadedWorkers(const PluginFolders &folders)
{
    QString why;
    const auto host = CPluginHost::Open(folders.dir, &why, folders.shared);
    if (!host) {
        err() << "kelvo-book: " << why << Qt::endl;
        return std::nullopt;
    }
    std::vector<WorkerInfo> workers;
    for (const auto &worker : host->Plugins()->PublishingWorkers())
        workers.push_back({worker.fileName, worker.service});
    return workers;
}

// Refuses texts the dialogs could not hold either.
bool textsFit(const QStringList &texts)
{
    for (const QString &text : texts) {
        if (text.size() > CServerBookStore::kMaxTextChars) {
            err() << "kelvo-book: Texte dürfen höchstens " << CServerBookStore::kMaxTextChars
                  << " Zeichen lang sein; dieser hat " << text.size() << ": " << EscapedForLine(text.left(40))
                  << "…" << Qt::endl;
            return false;
        }
        if (const QString control = ControlCharacterIn(text); !control.isEmpty()) {
            err() << "kelvo-book: Texte dürfen keine Steuerzeichen enthalten; dieser enthält " << control << ": "
                  << EscapedForLine(text.left(40)) << Qt::endl;
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
        err() << "kelvo-book: Eintrag " << ordinal << " heißt \"" << EscapedForLine(entry.label) << "\", nicht \""
              << EscapedForLine(*expected) << "\"; nichts wurde " << done << '.' << Qt::endl;
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
    if (!textsFit({entry->label, entry->server, entry->startDir, entry->pluginFile}) || !PutPasswordAside(entry->server))
        return 1;
    if (!store.UpdateCurrent(entry->label, entry->server, entry->startDir, entry->pluginFile)) {
        reportChangedMeanwhile(ordinal, "geändert");
        return 1;
    }
    printLine(*entry);
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

// The options each command takes: those with a value, then the flags.
struct CommandOptions {
    QStringList values;
    QStringList flags;
};

const QHash<QString, CommandOptions> &commandOptions()
{
    static const QHash<QString, CommandOptions> options = {
        {"init", {}},
        {"list", {{}, {"json"}}},
        {"find", {{}, {"json"}}},
        {"add", {}},
        {"edit", {{"label", "server", "startdir", "pluginfile", "expect-label"}, {}}},
        {"delete", {{"label"}, {}}},
        {"backups", {}},
        {"restore", {{}, {"dry-run"}}},
        {"import", {{}, {"dry-run", "keep-unmatched", "passwords", "json"}}},
        {"password", {}},
        {"check", {{}, {"all", "json", "write-test", "trust-host-key"}}},
        {"export", {{"format"}, {}}},
    };
    return options;
}

// The command's words checked against what it takes; an error for the first
// word that does not fit, empty when all do.
QString wrongUsage(const QString &command, const CommandArgs &args)
{
    const qsizetype count = args.positional.size();
    const bool countFits = command == QLatin1String("add")       ? count == 3 || count == 4
                           : command == QLatin1String("import")  ? count >= 1
                           : command == QLatin1String("export")  ? count <= 1
                           : command == QLatin1String("check") ? count == (args.flags.contains("all") ? 0 : 1)
                           : command == QLatin1String("password")
                               ? (QStringList({"list", "move"}).contains(args.positional.value(0)) && count == 1)
                                     || (QStringList({"set", "clear"}).contains(args.positional.value(0)) && count == 2)
                           : QStringList({"edit", "delete", "restore", "find"}).contains(command) ? count == 1
                                                                                         : count == 0;
    if (!args.wrongWord.isEmpty())
        return QStringLiteral("\"%1\" ist keine Option von %2, oder ihr fehlt der Wert.").arg(args.wrongWord, command);
    if (command == QLatin1String("add") && count < 3)
        return QStringLiteral("add braucht BEZEICHNUNG, SERVER und STARTVERZEICHNIS; es fehlt %1.")
            .arg(QStringList({"BEZEICHNUNG", "SERVER", "STARTVERZEICHNIS"}).mid(count).join(QStringLiteral(" und ")));
    if (command == QLatin1String("import") && count == 0)
        return QStringLiteral("import braucht mindestens eine DATEI.");
    if (command == QLatin1String("check") && count == 0 && !args.flags.contains(QLatin1String("all")))
        return QStringLiteral("check braucht eine NUMMER oder --all.");
    if (command == QLatin1String("password") && count == 0)
        return QStringLiteral("password braucht set, clear, list oder move.");
    if (!countFits)
        return count > 0 && !QStringList({"add", "import"}).contains(command)
                   ? QStringLiteral("%1 nimmt \"%2\" nicht an.").arg(command, args.positional.constLast())
                   : QStringLiteral("%1 nimmt so viele Argumente nicht an.").arg(command);
    if (QStringList({"edit", "delete"}).contains(command) && !ordinalOf(args.positional[0]))
        return QStringLiteral("\"%1\" ist keine Eintragsnummer (0, 1, 2, … wie list sie zeigt).").arg(args.positional[0]);
    if (command == QLatin1String("check") && count == 1 && !ordinalOf(args.positional[0]))
        return QStringLiteral("\"%1\" ist keine Eintragsnummer (0, 1, 2, … wie list sie zeigt).").arg(args.positional[0]);
    if (command == QLatin1String("password") && count == 2 && !ordinalOf(args.positional[1]))
        return QStringLiteral("\"%1\" ist keine Eintragsnummer (0, 1, 2, … wie list sie zeigt).").arg(args.positional[1]);
    const QString format = args.values.value(QStringLiteral("format"));
    if (command == QLatin1String("export") && !QStringList({"filezilla", "json", "csv"}).contains(format))
        return format.isEmpty() ? QStringLiteral("export braucht --format filezilla, json oder csv.")
                                : QStringLiteral("\"%1\" ist kein Format; --format nimmt filezilla, json oder csv.").arg(format);
    return {};
}

std::optional<QString> optionalValue(const CommandArgs &args, const char *option)
{
    const QString name = QString::fromLatin1(option);
    return args.values.contains(name) ? std::optional<QString>(args.values.value(name)) : std::nullopt;
}

int run(const PluginFolders &folders, const QStringList &words)
{
    const QString file = CServerBookStore::FileIn(folders.dir);
    const QString command = words.value(0);
    if (command == QLatin1String("help")) {
        if (words.size() > 2 || (words.size() == 2 && !IsCommand(words[1])))
            return usage(QStringLiteral("Unbekannter Befehl \"%1\".").arg(words.value(1)));
        out() << (words.size() == 2 ? CommandHelp(words[1]) : OverviewHelp());
        return 0;
    }
    if (!commandOptions().contains(command))
        return usage(command.isEmpty() ? QStringLiteral("Es fehlt ein Befehl.")
                                       : QStringLiteral("Unbekannter Befehl \"%1\".").arg(command));
    if (words.contains(QLatin1String("--help")) || words.contains(QLatin1String("-h"))) {
        out() << CommandHelp(command);
        return 0;
    }
    const CommandOptions &options = commandOptions()[command];
    const CommandArgs args(words.mid(1), options.values, options.flags);
    if (const QString problem = wrongUsage(command, args); !problem.isEmpty())
        return usage(problem, command);
    const QStringList &positional = args.positional;
    const auto flag = [&](const char *name) { return args.flags.contains(QLatin1String(name)); };

    if (command == QLatin1String("init")) {
        CServerBookStore::Create(file);
        return 0;
    }
    if (command == QLatin1String("backups"))
        return ListBackups(file);
    CServerBookStore store;
    if (command == QLatin1String("restore"))
        return RestoreBackup(store, file, positional[0], flag("dry-run"));
    store.Open(file);
    if (command == QLatin1String("list"))
        return ListEntries(store, flag("json"));
    if (command == QLatin1String("find"))
        return FindEntries(store, positional[0], flag("json"));
    if (command == QLatin1String("add")) {
        QString server = positional[1];
        if (!textsFit(positional) || !PutPasswordAside(server))
            return 1;
        QString worker = positional.value(3);
        if (positional.size() == 3) {
            const std::optional<std::vector<WorkerInfo>> workers = loadedWorkers(folders);
            if (!workers)
                return 1;
            worker = WorkerFor(ServiceOfAddress(server), *workers);
            if (worker.isEmpty()) {
                err() << "kelvo-book: Kein geladener Publishing-Worker überträgt über das Protokoll von \""
                      << EscapedForLine(server) << "\"; geben Sie die PLUGINDATEI an (ostrel-host list zeigt sie)."
                      << Qt::endl;
                return 1;
            }
        }
        store.Append(positional[0], server, positional[2], worker);
        return 0;
    }
    if (command == QLatin1String("check")) {
        const std::optional<std::vector<WorkerInfo>> workers = loadedWorkers(folders);
        if (!workers)
            return 1;
        return CheckEntries(store, *workers,
                            {positional.isEmpty() ? std::nullopt : ordinalOf(positional[0]), flag("json"),
                             flag("write-test"), flag("trust-host-key")});
    }
    if (command == QLatin1String("password")) {
        const QString &what = positional[0];
        return what == QLatin1String("list")  ? ListPasswords(store)
               : what == QLatin1String("move") ? MovePasswords(store)
               : what == QLatin1String("set")  ? SetPassword(store, *ordinalOf(positional[1]))
                                               : ClearPassword(store, *ordinalOf(positional[1]));
    }
    if (command == QLatin1String("edit"))
        return editEntry(store, *ordinalOf(positional[0]), args.values);
    if (command == QLatin1String("delete"))
        return deleteEntry(store, *ordinalOf(positional[0]), optionalValue(args, "label"));
    if (command == QLatin1String("import")) {
        const std::optional<std::vector<WorkerInfo>> workers = loadedWorkers(folders);
        if (!workers)
            return 1;
        return ImportSites(store, *workers, positional,
                           {flag("dry-run"), flag("keep-unmatched"), flag("passwords"), flag("json")});
    }
    return ExportBook(store, args.values.value(QStringLiteral("format")), positional.value(0));
}

} // namespace

int main(int argc, char *argv[])
{
    if (!wordsAreUtf8("kelvo-book", argc, argv))
        return 2;
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kelvo-book"));

    QCommandLineParser parser;
    const QCommandLineOption dirOption = pluginDirOption();
    parser.addOption(dirOption);
    // Everything after the command is the command's own, "-1" included.
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    parseCommandLine(parser, "kelvo-book", OverviewHelp());

    // init makes the book itself, so a user's first command may be init too.
    const QStringList words = parser.positionalArguments();
    const std::optional<PluginFolders> folders =
        pluginFolders(QStringLiteral("kelvo-book"), parser, dirOption, words.value(0) != QLatin1String("init"));
    if (!folders)
        return 1;
    int rc;
    try {
        rc = run(*folders, words);
    } catch (const StoreError &error) {
        rc = 1;
        flushOutput();
        err() << "kelvo-book: " << error.message() << Qt::endl;
    } catch (const std::bad_alloc &) {
        // A site list or a book larger than the memory the system grants.
        rc = 1;
        flushOutput();
        err() << "kelvo-book: Nicht genug Arbeitsspeicher; nichts wurde geändert." << Qt::endl;
    } catch (const std::exception &error) {
        rc = 1;
        flushOutput();
        err() << "kelvo-book: " << error.what() << Qt::endl;
    }
    return finishOutput(QStringLiteral("kelvo-book"), rc);
}
