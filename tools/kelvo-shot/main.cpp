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
    const QCommandLineOption outOption(QStringLiteral("out"), QStringLiteral("Ordner für die Bilder."),
                                       QStringLiteral("ORDNER"), QStringLiteral("."));
    parser.addOption(outOption);
    const QCommandLineOption scaleOption(QStringLiteral("scale"), QStringLiteral("Pixelverhältnis der Bilder, etwa 2."),
                                         QStringLiteral("FAKTOR"), QStringLiteral("1"));
    parser.addOption(scaleOption);
    parseCommandLine(parser, "kelvo-shot", QStringLiteral(
        "Aufruf: kelvo-shot [--out ORDNER] [--scale FAKTOR]\n"
        "Zeichnet die Dialogvorlagen des Serverbooks als PNG-Bilder\n"
        "(template-3000.png, template-3001.png, template-3002.png).\n\n"
        "Optionen:\n"
        "  --out ORDNER     Ordner für die Bilder (sonst der aktuelle)\n"
        "  --scale FAKTOR   Pixelverhältnis der Bilder, etwa 2 (sonst 1)\n"
        "  -h, --help       zeigt diese Hilfe\n"
        "  -v, --version    zeigt die Version\n"));
    bool isNumber = false;
    if (parser.value(scaleOption).toDouble(&isNumber) <= 0 || !isNumber) {
        err() << "kelvo-shot: --scale nimmt eine positive Zahl; kelvo-shot --help zeigt den Aufruf." << Qt::endl;
        return 2;
    }

    const QDir folder(parser.value(outOption));
    if (!folder.mkpath(QStringLiteral("."))) {
        err() << "kelvo-shot: der Ordner " << folder.path() << " kann nicht angelegt werden" << Qt::endl;
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
            err() << "kelvo-shot: " << file << " kann nicht geschrieben werden" << Qt::endl;
            return 1;
        }
        out() << QDir::toNativeSeparators(file) << Qt::endl;
    }
    return 0;
}
