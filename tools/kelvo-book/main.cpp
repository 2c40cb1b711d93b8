// kelvo-book: creates and inspects the server book store of a plug-in
// directory, through the same store code the module uses.

#include "cserverbookstore.h"
#include "storeerror.h"

#include "toolsupport.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace {

constexpr int kUsage = 2;

int usage()
{
    err() << "usage: kelvo-book [--plugin-dir DIR] init\n"
             "       kelvo-book [--plugin-dir DIR] list\n"
             "       kelvo-book [--plugin-dir DIR] add LABEL SERVER STARTDIR PLUGINFILE\n"
             "       kelvo-book [--plugin-dir DIR] delete ORDINAL\n";
    return kUsage;
}

int list(CServerBookStore &store)
{
    int ordinal = 0;
    for (store.MoveFirst(); !store.IsEOF(); store.MoveNext(), ++ordinal) {
        out() << ordinal << '\t' << store.GetFieldText(QStringLiteral("Bezeichnung")) << '\t'
              << store.GetFieldText(QStringLiteral("Servername")) << '\t'
              << store.GetFieldText(QStringLiteral("Startverzeichnis")) << '\t'
              << store.GetFieldText(QStringLiteral("Plugindateiname")) << '\n';
    }
    return 0;
}

int run(const QString &file, const QStringList &args)
{
    const QString command = args.value(0);
    if (command == QLatin1String("init") && args.size() == 1) {
        CServerBookStore::Create(file);
        return 0;
    }

    CServerBookStore store;
    if (command == QLatin1String("list") && args.size() == 1) {
        store.Open(file);
        return list(store);
    }
    if (command == QLatin1String("add") && args.size() == 5) {
        store.Open(file);
        store.Append(args[1], args[2], args[3], args[4]);
        return 0;
    }
    if (command == QLatin1String("delete") && args.size() == 2) {
        bool isNumber = false;
        const int ordinal = args[1].toInt(&isNumber);
        if (!isNumber || ordinal < 0)
            return usage();
        store.Open(file);
        if (!store.PositionAt(ordinal)) {
            err() << "kelvo-book: there is no entry " << ordinal << Qt::endl;
            return 1;
        }
        store.DeleteCurrent();
        return 0;
    }
    return usage();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kelvo-book"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Creates and inspects the server book store."));
    parser.addHelpOption();
    const QCommandLineOption dirOption = pluginDirOption();
    parser.addOption(dirOption);
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("init | list | add | delete"));
    parser.process(app);

    try {
        const int rc = run(CServerBookStore::FileIn(parser.value(dirOption)), parser.positionalArguments());
        out().flush();
        return rc;
    } catch (const StoreError &error) {
        out().flush();
        err() << "kelvo-book: " << error.message() << Qt::endl;
        return 1;
    }
}
