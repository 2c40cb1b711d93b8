#pragma once

// What the command-line tools share: their output streams, their checks of
// the words they are given, and --help and --version.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>
#include <cstdlib>

inline QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

inline QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

// Writes out what is buffered; false when standard output could not take it
// (a full disk, a closed pipe).
inline bool flushOutput()
{
    out().flush();
    return out().status() == QTextStream::Ok && std::fflush(stdout) == 0 && !std::ferror(stdout);
}

// The exit code of a tool that produced rc: a failed write to standard
// output turns success into failure, with a message, so that a script never
// takes lost output for a result.
inline int finishOutput(const QString &tool, int rc)
{
    if (flushOutput())
        return rc;
    err() << tool << ": Die Ausgabe konnte nicht geschrieben werden." << Qt::endl;
    return 1;
}

// Qt holds paths and texts as Unicode, and a word that is not UTF-8 comes
// out of it changed: a folder of another name, a label with other letters.
// Such a word is refused, its bytes beyond ASCII shown as \xNN; false when
// one was.
inline bool wordsAreUtf8(const char *tool, int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray word(argv[i]);
        if (QString::fromUtf8(word).toUtf8() == word)
            continue;
        QString shown;
        for (const char c : word)
            shown += uchar(c) < 0x80 ? QString(QLatin1Char(c)) : QStringLiteral("\\x%1").arg(uchar(c), 2, 16, QLatin1Char('0'));
        err() << tool << ": \"" << shown << "\" ist kein gültiges UTF-8; so benannte Ordner und Texte lassen sich "
              << "nicht unverändert verwenden. Bitte den Ordner umbenennen oder über einen Verweis mit einem "
              << "UTF-8-Namen angeben." << Qt::endl;
        return false;
    }
    return true;
}

// Parses the command line as Debian's tools do: -h or --help prints help
// (the tool's own, in German) and -v or --version the version, each ending
// the program with 0; an option it does not know ends it with 2, the option
// named in one line with where to find help.
inline void parseCommandLine(QCommandLineParser &parser, const char *tool, const QString &help)
{
    QCoreApplication::setApplicationVersion(QStringLiteral(KELVO_VERSION));
    parser.addOption({{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Zeigt diese Hilfe.")});
    parser.addOption({{QStringLiteral("v"), QStringLiteral("version")}, QStringLiteral("Zeigt die Version.")});
    if (!parser.parse(QCoreApplication::arguments())) {
        // Qt says why in English; the option it stumbled over is enough.
        const QStringList unknown = parser.unknownOptionNames();
        const QString why = !unknown.isEmpty()
                                ? QStringLiteral("unbekannte Option \"%1%2\"")
                                      .arg(unknown.first().size() == 1 ? QStringLiteral("-") : QStringLiteral("--"),
                                           unknown.first())
                                : QStringLiteral("einer Option fehlt ihr Wert");
        err() << tool << ": " << why << "; " << tool << " --help zeigt den Aufruf." << Qt::endl;
        std::exit(2);
    }
    if (parser.isSet(QStringLiteral("version"))) {
        out() << tool << ' ' << KELVO_VERSION << Qt::endl;
        std::exit(0);
    }
    if (parser.isSet(QStringLiteral("help"))) {
        out() << help;
        out().flush();
        std::exit(0);
    }
}
