// ostrel-host: a small stand-in for the publishing application. It loads a
// plug-in directory through the host framework and drives the plug-ins the
// way the application does.

#include "cplugindll.h"
#include "cpluginhost.h"

#include <QApplication>
#include "toolsupport.h"

#include <QCommandLineParser>
#include <QDir>
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

// Without a display nobody could answer a dialog: save a picture of the first
// modal dialog that appears and cancel it, so the command always ends.
void pictureAndCancelModalDialogs(const QString &picturePath)
{
    auto *timer = new QTimer(qApp);
    timer->setInterval(50);
    QObject::connect(timer, &QTimer::timeout, [timer, picturePath] {
        QWidget *dialog = QApplication::activeModalWidget();
        if (!dialog)
            return;
        timer->stop();
        if (dialog->grab().save(picturePath))
            out() << "picture of the dialog: " << QDir::toNativeSeparators(picturePath) << Qt::endl;
        else
            err() << "could not save " << picturePath << Qt::endl;
        dialog->close();
    });
    timer->start();
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
          << "pluginfile: " << entry.strPluginFile << Qt::endl;
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (!hasDisplay() && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ostrel-host"));
    QApplication::setApplicationDisplayName(QStringLiteral("Ostrel"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Loads a plug-in directory and drives its plug-ins."));
    parser.addHelpOption();
    const QCommandLineOption dirOption = pluginDirOption();
    parser.addOption(dirOption);
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("list | serverbook | about"));
    parser.process(app);

    const QStringList args = parser.positionalArguments();
    const QString command = args.value(0);
    if (args.size() != 1 || !QStringList{"list", "serverbook", "about"}.contains(command)) {
        err() << "usage: ostrel-host [--plugin-dir DIR] list|serverbook|about" << Qt::endl;
        return 2;
    }

    QString why;
    const auto host = CPluginHost::Open(parser.value(dirOption), &why);
    if (!host) {
        err() << "ostrel-host: " << why << Qt::endl;
        return 1;
    }
    if (command == QLatin1String("list")) {
        listPlugins(host->Plugins());
        return 0;
    }

    const CServerbookExtPluginDLL *book = findServerBook(host->Plugins());
    if (!book) {
        err() << "ostrel-host: no server book extension in " << host->Dir() << Qt::endl;
        return 1;
    }
    if (isHeadless()) {
        err() << "No display: showing the dialog offscreen, saving a picture and cancelling." << Qt::endl;
        pictureAndCancelModalDialogs(QApplication::applicationDirPath() + '/' + command
                                     + QStringLiteral(".png"));
    }
    if (command == QLatin1String("about")) {
        book->ShowPluginDialog();
        return 0;
    }
    return showServerBook(book);
}
