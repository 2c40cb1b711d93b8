// kelvo-shot: renders each of the module's dialog templates to a PNG on the
// offscreen platform, so the dialogs can be looked at without a display.

#include "cdialog.h"
#include "kelvotemplates.h"
#include "templateregistry.h"
#include "toolsupport.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>

// The scale must be known before the application starts; QCommandLineParser
// then checks the option as usual.
QByteArray scaleArgument(int argc, char *argv[])
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (qstrcmp(argv[i], "--scale") == 0)
            return argv[i + 1];
    }
    return {};
}

int main(int argc, char *argv[])
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const QByteArray scale = scaleArgument(argc, argv);
    if (!scale.isEmpty())
        qputenv("QT_SCALE_FACTOR", scale);
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Renders the dialog templates to PNG files."));
    const QCommandLineOption outOption(QStringLiteral("out"), QStringLiteral("Folder for the pictures."),
                                       QStringLiteral("DIR"), QStringLiteral("."));
    parser.addOption(outOption);
    const QCommandLineOption scaleOption(QStringLiteral("scale"),
                                         QStringLiteral("Device pixel ratio of the pictures, such as 2."),
                                         QStringLiteral("FACTOR"), QStringLiteral("1"));
    parser.addOption(scaleOption);
    parseCommandLine(parser, "kelvo-shot");
    bool isNumber = false;
    if (parser.value(scaleOption).toDouble(&isNumber) <= 0 || !isNumber) {
        err() << "kelvo-shot: --scale takes a positive number" << Qt::endl;
        return 2;
    }

    const QDir folder(parser.value(outOption));
    if (!folder.mkpath(QStringLiteral("."))) {
        err() << "kelvo-shot: cannot create " << folder.path() << Qt::endl;
        return 1;
    }
    RegisterDialogTemplates(KelvoTemplates());
    for (const DialogTemplate &dialogTemplate : KelvoTemplates()) {
        CDialog dialog(dialogTemplate.id);
        dialog.Create();
        dialog.show();
        const QString suffix = scale.isEmpty() ? QString() : QStringLiteral("@%1x").arg(QString::fromLatin1(scale));
        const QString file = folder.filePath(QStringLiteral("template-%1%2.png").arg(dialogTemplate.id).arg(suffix));
        if (!dialog.grab().save(file)) {
            err() << "kelvo-shot: cannot write " << file << Qt::endl;
            return 1;
        }
        out() << QDir::toNativeSeparators(file) << Qt::endl;
    }
    return 0;
}
