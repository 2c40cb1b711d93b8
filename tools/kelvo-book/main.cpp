// kelvo-book: creates, inspects and changes the server book store of a
// plug-in directory, through the same store code the module uses.

#include "cserverbookstore.h"
#include "storeerror.h"

#include "toolsupport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

constexpr int kUsage = 2;

const char *const kUsageText =
    "usage: kelvo-book [--plugin-dir DIR] init\n"
    "       kelvo-book [--plugin-dir DIR] list [--json]\n"
    "       kelvo-book [--plugin-dir DIR] add LABEL SERVER STARTDIR PLUGINFILE\n"
    "       kelvo-book [--plugin-dir DIR] delete ORDINAL [--label TEXT]\n"
    "\n"
    "list prints one line per entry: ordinal, label, server, start directory and\n"
    "plug-in file, separated by tabs. In the texts a backslash, tab, carriage\n"
    "return and line feed are written as \\\\, \\t, \\r and \\n, so every entry is\n"
    "exactly one line. --json prints the entries as a JSON array instead.\n"
    "delete prints the line of the entry it deleted; with --label it deletes\n"
    "only when the entry at ORDINAL has that label.\n";

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
};

// A row's four texts, read before anything is printed, so that a row that
// vanishes meanwhile is reported instead of printed in part.
struct Entry {
    int ordinal;
    QString label, server, startDir, pluginFile;
};

Entry readCurrent(CServerBookStore &store, int ordinal)
{
    return {ordinal, store.GetFieldText(QStringLiteral("Bezeichnung")),
            store.GetFieldText(QStringLiteral("Servername")),
            store.GetFieldText(QStringLiteral("Startverzeichnis")),
            store.GetFieldText(QStringLiteral("Plugindateiname"))};
}

// Keeps every entry on one line of tab-separated output.
QString escaped(QString text)
{
    return text.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
        .replace(QLatin1Char('\t'), QLatin1String("\\t"))
        .replace(QLatin1Char('\r'), QLatin1String("\\r"))
        .replace(QLatin1Char('\n'), QLatin1String("\\n"));
}

void printLine(const Entry &entry)
{
    out() << entry.ordinal << '\t' << escaped(entry.label) << '\t' << escaped(entry.server) << '\t'
          << escaped(entry.startDir) << '\t' << escaped(entry.pluginFile) << '\n';
}

QJsonObject toJson(const Entry &entry)
{
    return {{QStringLiteral("ordinal"), entry.ordinal},
            {QStringLiteral("label"), entry.label},
            {QStringLiteral("server"), entry.server},
            {QStringLiteral("startdir"), entry.startDir},
            {QStringLiteral("pluginfile"), entry.pluginFile}};
}

int list(CServerBookStore &store, bool json)
{
    QJsonArray entries;
    int ordinal = 0;
    for (store.MoveFirst(); !store.IsEOF(); store.MoveNext(), ++ordinal) {
        const Entry entry = readCurrent(store, ordinal);
        if (json)
            entries.append(toJson(entry));
        else
            printLine(entry);
    }
    if (json)
        out() << QJsonDocument(entries).toJson(QJsonDocument::Indented);
    return 0;
}

int deleteEntry(CServerBookStore &store, int ordinal, const std::optional<QString> &expectedLabel)
{
    if (!store.PositionAt(ordinal)) {
        err() << "kelvo-book: Es gibt keinen Eintrag " << ordinal << '.' << Qt::endl;
        return 1;
    }
    const Entry entry = readCurrent(store, ordinal);
    if (expectedLabel && *expectedLabel != entry.label) {
        err() << "kelvo-book: Eintrag " << ordinal << " heißt \"" << escaped(entry.label) << "\", nicht \""
              << escaped(*expectedLabel) << "\"; nichts wurde gelöscht." << Qt::endl;
        return 1;
    }
    if (!store.DeleteCurrent(entry.label)) {
        err() << "kelvo-book: Eintrag " << ordinal
              << " wurde inzwischen von einem anderen Programm geändert oder gelöscht; nichts wurde gelöscht."
              << Qt::endl;
        return 1;
    }
    printLine(entry);
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

int run(const QString &file, const QStringList &words)
{
    const QString command = words.value(0);
    const CommandArgs args(words.mid(1), {QStringLiteral("label")}, {QStringLiteral("json")});
    if (!args.ok)
        return usage();
    const QStringList &positional = args.positional;
    const bool noOptions = args.values.isEmpty() && args.flags.isEmpty();

    if (command == QLatin1String("init") && positional.isEmpty() && noOptions) {
        CServerBookStore::Create(file);
        return 0;
    }
    CServerBookStore store;
    if (command == QLatin1String("list") && positional.isEmpty() && args.values.isEmpty()) {
        store.Open(file);
        return list(store, args.flags.contains(QLatin1String("json")));
    }
    if (command == QLatin1String("add") && positional.size() == 4 && noOptions) {
        store.Open(file);
        store.Append(positional[0], positional[1], positional[2], positional[3]);
        return 0;
    }
    if (command == QLatin1String("delete") && positional.size() == 1 && args.flags.isEmpty()) {
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
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kelvo-book"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Creates, inspects and changes the server book store.\n\n")
                                     + QString::fromUtf8(kUsageText));
    parser.addHelpOption();
    const QCommandLineOption dirOption = pluginDirOption();
    parser.addOption(dirOption);
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("init | list | add | delete"));
    // Everything after the command is the command's own, "-1" included.
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    parser.process(app);

    int rc;
    try {
        rc = run(CServerBookStore::FileIn(parser.value(dirOption)), parser.positionalArguments());
    } catch (const StoreError &error) {
        rc = 1;
        flushOutput();
        err() << "kelvo-book: " << error.message() << Qt::endl;
    }
    return finishOutput(QStringLiteral("kelvo-book"), rc);
}
