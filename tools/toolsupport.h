#pragma once

// What the command-line tools share: their output streams, and the plug-in
// directory option with its default, plugins/ beside the program.

#include <QCommandLineOption>
#include <QCoreApplication>
#include <QTextStream>

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

inline QCommandLineOption pluginDirOption()
{
    return QCommandLineOption(QStringLiteral("plugin-dir"),
                              QStringLiteral("The plug-in directory (default: plugins/ beside this program)."),
                              QStringLiteral("DIR"),
                              QCoreApplication::applicationDirPath() + QStringLiteral("/plugins"));
}
