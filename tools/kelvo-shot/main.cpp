// kelvo-shot: renders each of the module's dialog templates to a PNG on the
// offscreen platform, so the dialogs can be looked at without a display.

#include "cdialog.h"
#include "kelvotemplates.h"
#include "templateregistry.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QTextStream>

int main(int argc, char *argv[])
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Renders the dialog templates to PNG files."));
    parser.addHelpOption();
    const QCommandLineOption outOption(QStringLiteral("out"), QStringLiteral("Folder for the pictures."),
                                       QStringLiteral("DIR"), QStringLiteral("."));
    parser.addOption(outOption);
    parser.process(app);

    QTextStream err(stderr);
    const QDir out(parser.value(outOption));
    if (!out.mkpath(QStringLiteral("."))) {
        err << "kelvo-shot: cannot create " << out.path() << Qt::endl;
        return 1;
    }
    RegisterDialogTemplates(KelvoTemplates());
    for (const DialogTemplate &dialogTemplate : KelvoTemplates()) {
        CDialog dialog(dialogTemplate.id);
        dialog.Create();
        dialog.show();
        const QString file = out.filePath(QStringLiteral("template-%1.png").arg(dialogTemplate.id));
        if (!dialog.grab().save(file)) {
            err << "kelvo-shot: cannot write " << file << Qt::endl;
            return 1;
        }
        QTextStream(stdout) << QDir::toNativeSeparators(file) << Qt::endl;
    }
    return 0;
}
