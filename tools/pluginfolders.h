#pragma once

// The plug-in folders of the tools that load plug-ins or open the book.

#include "foldertrust.h"
#include "toolsupport.h"
#include "userplugindir.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>

#include <optional>

// Where a tool finds its plug-ins. --plugin-dir DIR means that folder
// alone. Otherwise, in a build tree, plugins/ beside the program, as built.
// An installed tool belongs to every user of the machine: each user has a
// plug-in folder of their own (made ready with an empty book on first use),
// and the installed modules come from the system's folder beside it.
struct PluginFolders {
    QString dir;        // the current plug-in directory, whose DATA/ holds the book
    QStringList shared; // folders whose modules are loaded too
    QString skeleton;   // what a new user's folder starts with; empty where none is made
};

// Whether the program runs where it was built, with the bundled plug-ins beside it.
inline bool inBuildTree()
{
    return QDir(QCoreApplication::applicationDirPath()).exists(QStringLiteral("plugins"));
}

inline PluginFolders defaultPluginFolders()
{
    const QDir programDir(QCoreApplication::applicationDirPath());
    if (inBuildTree())
        return {programDir.filePath(QStringLiteral("plugins")), {}, {}};
    return {UserPluginDir(), {QDir::cleanPath(programDir.filePath(QStringLiteral(KELVO_INSTALLED_PLUGIN_DIR)))},
            QDir::cleanPath(programDir.filePath(QStringLiteral(KELVO_INSTALLED_SKELETON_DIR)))};
}

inline QCommandLineOption pluginDirOption()
{
    return QCommandLineOption(QStringLiteral("plugin-dir"),
                              QStringLiteral("Der Plugin-Ordner (sonst %1).").arg(defaultPluginFolders().dir),
                              QStringLiteral("ORDNER"));
}

// The folders for what the command line says; with the user's own folder
// made ready unless prepare is false. Null, with the reason and what to do
// said on standard error, when that folder cannot be made.
inline std::optional<PluginFolders> pluginFolders(const QString &tool, const QCommandLineParser &parser,
                                                  const QCommandLineOption &dirOption, bool prepare = true)
{
    if (parser.isSet(dirOption))
        return PluginFolders{parser.value(dirOption), {}, {}};
    const PluginFolders folders = defaultPluginFolders();
    QString why;
    if (prepare && !folders.skeleton.isEmpty() && !PrepareUserPluginDir(folders.dir, folders.skeleton, &why)) {
        err() << tool << ": " << why << ".\nMit --plugin-dir DIR lässt sich ein anderer Plug-in-Ordner wählen "
              << "(oder XDG_DATA_HOME auf einen Ordner setzen, in den Sie schreiben dürfen)." << Qt::endl;
        return std::nullopt;
    }
    // The user's book and modules only where no other user can reach them.
    if (const QString untrusted = folders.skeleton.isEmpty() ? QString() : WhyNotTrusted(folders.dir, QDir::homePath());
        !untrusted.isEmpty()) {
        err() << tool << ": " << untrusted << Qt::endl;
        return std::nullopt;
    }
    return folders;
}

