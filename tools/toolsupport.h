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

// Parses the command line as Debian's tools do: --help and --version print
// and end the program with 0; an option it does not know ends it with 2, the
// option named. The help and version options are added here.
inline void parseCommandLine(QCommandLineParser &parser, const char *tool)
{
    QCoreApplication::setApplicationVersion(QStringLiteral(KELVO_VERSION));
    parser.addHelpOption();
    parser.addVersionOption();
    if (!parser.parse(QCoreApplication::arguments())) {
        err() << tool << ": " << parser.errorText() << "\n(" << tool << " --help zeigt den Aufruf.)" << Qt::endl;
        std::exit(2);
    }
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
}
