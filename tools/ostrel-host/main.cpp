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
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QMessageBox>
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
            out() << "Bild des Dialogs: " << QDir::toNativeSeparators(path) << Qt::endl;
        else
            err() << "ostrel-host: " << path << " kann nicht geschrieben werden" << Qt::endl;
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

// What the host does with a pick: says it, as a worker would get it.
int showServerBook(const CServerbookExtPluginDLL *book)
{
    book->ShowServerBook(0);
    SERVERBOOKENTRYSTRUC entry;
    const int result = book->GetLastServerBookEntry(&entry);
    const QString error = book->GetLastServerBookError();
    if (!error.isEmpty() || result == -1) {
        const QString why = QStringLiteral("Das Serverbook konnte nicht angezeigt werden: %1")
                                .arg(error.isEmpty() ? QStringLiteral("Der Dialog ließ sich nicht anlegen.") : error);
        // Said once: on the screen where there is one, else on stderr.
        if (isHeadless())
            err() << "ostrel-host: " << why << Qt::endl;
        else
            QMessageBox::warning(nullptr, QApplication::applicationDisplayName(), why);
        return 1;
    }
    out() << "Ergebnis: " << result << (result == 1 ? " (OK)" : " (abgebrochen)") << '\n';
    if (result != 1) {
        out().flush();
        return 0;
    }
    out() << "Server: " << entry.strServer << '\n'
          << "Startverzeichnis: " << entry.strStartDir << '\n'
          << "Plugindatei: " << entry.strPluginFile << '\n';
    // Whether a worker could sign in without asking; the password itself is
    // never shown.
    QString password;
    const int found = book->GetLastServerBookPassword(&password);
    out() << "Passwort: " << (found == 1 ? "im Schlüsselbund" : found == 0 ? "keins" : "Schlüsselbund nicht erreichbar")
          << '\n';
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
    // The host says why the server book showed nothing itself, once.
    QLoggingCategory::setFilterRules(QStringLiteral("kelvo.serverbook.warning=false"));

    QCommandLineParser parser;
    const QCommandLineOption dirOption = pluginDirOption();
    parser.addOption(dirOption);
    parseCommandLine(parser, "ostrel-host", QStringLiteral(
        "Aufruf: ostrel-host [--plugin-dir ORDNER] list|serverbook|about\n"
        "Lädt die Plugins eines Plugin-Ordners, wie Ostrel es tut, und bedient sie.\n\n"
        "  list        eine Zeile je Plugin: Datei, Typnummer, Typ, Name\n"
        "  serverbook  zeigt das Serverbook und schreibt die Auswahl: Ergebnis\n"
        "              (1 OK, 2 abgebrochen), Server, Startverzeichnis, Plugindatei,\n"
        "              und ob ein Passwort im Schlüsselbund liegt\n"
        "  about       zeigt das Info-Fenster des Serverbook-Plugins\n\n"
        "Optionen:\n"
        "  --plugin-dir ORDNER  der Plugin-Ordner (sonst der eigene des Benutzers)\n"
        "  -h, --help           zeigt diese Hilfe\n"
        "  -v, --version        zeigt die Version\n"));

    const QStringList args = parser.positionalArguments();
    const QString command = args.value(0);
    if (args.size() != 1 || !QStringList{"list", "serverbook", "about"}.contains(command)) {
        if (args.size() > 1)
            err() << "ostrel-host: zu viele Wörter ab \"" << args[1] << "\"" << Qt::endl;
        else if (!command.isEmpty())
            err() << "ostrel-host: unbekannter Befehl \"" << command << "\"" << Qt::endl;
        else
            err() << "ostrel-host: es fehlt ein Befehl (list, serverbook oder about)" << Qt::endl;
        err() << "ostrel-host --help zeigt den Aufruf." << Qt::endl;
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
        err() << "ostrel-host: kein Serverbook-Plugin in " << host->Dir() << Qt::endl;
        return 1;
    }
    if (isHeadless()) {
        err() << "Kein Bildschirm: Der Dialog wird unsichtbar gezeigt, als Bild gespeichert und abgebrochen." << Qt::endl;
        pictureAndCancelModalDialogs(pictureFolder() + '/' + command);
    }
    if (command == QLatin1String("about")) {
        book->ShowPluginDialog();
        return finishOutput(QStringLiteral("ostrel-host"), 0);
    }
    return finishOutput(QStringLiteral("ostrel-host"), showServerBook(book));
}
