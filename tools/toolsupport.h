#pragma once

// What the command-line tools share: their output streams, and the plug-in
// directory option with its default, plugins/ beside the program.

#include <QCommandLineOption>
#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

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

inline QCommandLineOption pluginDirOption()
{
    return QCommandLineOption(QStringLiteral("plugin-dir"),
                              QStringLiteral("The plug-in directory (default: plugins/ beside this program)."),
                              QStringLiteral("DIR"),
                              QCoreApplication::applicationDirPath() + QStringLiteral("/plugins"));
}
