// ostrel-host: a small stand-in for the publishing application. It loads a
// plug-in directory through the host framework and drives the plug-ins the
// way the application does.

#include "cplugindll.h"
#include "cpluginhost.h"

#include "pluginfolders.h"
#include "toolsupport.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDialog>
#include <QFileInfo>
#include <QDir>
#include <QStandardPaths>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace {

bool hasDisplay()
{
    return qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
}

// Platforms that show nothing to anybody.
bool isHeadless()
{
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
}

// Without a display nobody could answer a dialog: every modal dialog that
// appears (an error box, then perhaps the dialog behind it) is pictured and
// cancelled, so the command always ends. The first picture is NAME.png, the
// following ones NAME-2.png, NAME-3.png and so on.
void pictureAndCancelModalDialogs(const QString &pictureBase)
{
    auto *timer = new QTimer(qApp);
    timer->setInterval(50);
    QObject::connect(timer, &QTimer::timeout, [pictureBase, count = 0]() mutable {
        QWidget *dialog = QApplication::activeModalWidget();
        if (!dialog || !dialog->isVisible())
            return;
        ++count;
        const QString path = pictureBase + (count == 1 ? QString() : QStringLiteral("-%1").arg(count))
                             + QStringLiteral(".png");
        if (dialog->grab().save(path))
            out() << "picture of the dialog: " << QDir::toNativeSeparators(path) << Qt::endl;
        else
            err() << "could not save " << path << Qt::endl;
        if (auto *modal = qobject_cast<QDialog *>(dialog))
            modal->reject();
        else
            dialog->close();
    });
    timer->start();
}

// Where pictures of a headless run go: beside the program in a build tree;
// for an installed host the user's own runtime folder, or their cache folder
// where there is none, so that two users never write the same file.
QString pictureFolder()
{
    if (inBuildTree())
        return QApplication::applicationDirPath();
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty() || !QFileInfo(folder).isWritable())
        folder = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    folder += QStringLiteral("/ostrel");
    QDir().mkpath(folder);
    return folder;
}

void listPlugins(CPluginArray *plugins)
{
    for (int i = 0; i < plugins->GetPluginCount(); ++i) {
        const CPluginDLL *plugin = plugins->GetPluginAt(i);
        QString typeString;
        const int type = plugin->GetPluginType(&typeString);
        out() << plugin->GetPluginFileName() << '\t' << type << '\t' << typeString << '\t'
              << plugin->GetPluginName() << '\n';
    }
    out().flush();
}

const CServerbookExtPluginDLL *findServerBook(CPluginArray *plugins)
{
    for (int i = 0; i < plugins->GetPluginCount(); ++i) {
        if (auto *book = dynamic_cast<const CServerbookExtPluginDLL *>(plugins->GetPluginAt(i)))
            return book;
    }
    return nullptr;
}

int showServerBook(const CServerbookExtPluginDLL *book)
{
    book->ShowServerBook(0);
    SERVERBOOKENTRYSTRUC entry;
    const int result = book->GetLastServerBookEntry(&entry);
    const QString error = book->GetLastServerBookError();
    if (!error.isEmpty() || result == -1) {
        err() << "The server book could not be shown: "
              << (error.isEmpty() ? QStringLiteral("the dialog could not be created") : error)
              << Qt::endl;
        return 1;
    }
    out() << "result: " << result << '\n'
          << "server: " << entry.strServer << '\n'
          << "startdir: " << entry.strStartDir << '\n'
          << "pluginfile: " << entry.strPluginFile << '\n';
    // Whether a worker could sign in without asking; the password itself is
    // never shown.
    if (result == 1) {
        QString password;
        const int found = book->GetLastServerBookPassword(&password);
        out() << "password: "
              << (found == 1 ? "im Schlüsselbund" : found == 0 ? "keins" : "Schlüsselbund nicht erreichbar") << '\n';
    }
    out().flush();
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (!wordsAreUtf8("ostrel-host", argc, argv))
        return 2;
    if (!hasDisplay() && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ostrel-host"));
    QApplication::setApplicationDisplayName(QStringLiteral("Ostrel"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Loads a plug-in directory and drives its plug-ins."));
    const QCommandLineOption dirOption = pluginDirOption();
    parser.addOption(dirOption);
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("list | serverbook | about"));
    parseCommandLine(parser, "ostrel-host");

    const QStringList args = parser.positionalArguments();
    const QString command = args.value(0);
    if (args.size() != 1 || !QStringList{"list", "serverbook", "about"}.contains(command)) {
        if (args.size() > 1)
            err() << "ostrel-host: zu viele Wörter ab \"" << args[1] << "\"" << Qt::endl;
        else if (!command.isEmpty())
            err() << "ostrel-host: unbekannter Befehl \"" << command << "\"" << Qt::endl;
        err() << "usage: ostrel-host [--plugin-dir DIR] list|serverbook|about" << Qt::endl;
        return 2;
    }

    const std::optional<PluginFolders> folders = pluginFolders(QStringLiteral("ostrel-host"), parser, dirOption);
    if (!folders)
        return 1;
    QString why;
    const auto host = CPluginHost::Open(folders->dir, &why, folders->shared);
    if (!host) {
        err() << "ostrel-host: " << why << Qt::endl;
        return 1;
    }
    if (command == QLatin1String("list")) {
        listPlugins(host->Plugins());
        return finishOutput(QStringLiteral("ostrel-host"), 0);
    }

    const CServerbookExtPluginDLL *book = findServerBook(host->Plugins());
    if (!book) {
        err() << "ostrel-host: no server book extension in " << host->Dir() << Qt::endl;
        return 1;
    }
    if (isHeadless()) {
        err() << "No display: showing the dialog offscreen, saving a picture and cancelling." << Qt::endl;
        pictureAndCancelModalDialogs(pictureFolder() + '/' + command);
    }
    if (command == QLatin1String("about")) {
        book->ShowPluginDialog();
        return finishOutput(QStringLiteral("ostrel-host"), 0);
    }
    return finishOutput(QStringLiteral("ostrel-host"), showServerBook(book));
}
