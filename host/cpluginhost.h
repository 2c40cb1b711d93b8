#pragma once

#include "ostrelhost_global.h"
#include "cpluginarray.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

// The host application's plug-in directory with every module loaded from it.
// The newest open CPluginHost is the current one: GetCurrentPluginDir and
// GetCurrentPluginArray answer for it until it is destroyed, then for the
// newest host still open.
class OSTRELHOST_EXPORT CPluginHost
{
public:
    // Loads every module file in dir, in file-name order; dir is the current
    // plug-in directory. An installed host also loads the modules of the
    // system's plug-in folders in sharedDirs; a module in dir replaces one of
    // the same file name there, so that a user's own build of a module wins.
    // A file that cannot be loaded is skipped with one warning naming it and
    // the reason, and listed in Skipped(). Returns null, with the reason in
    // *errorString, only when a folder is not a readable directory.
    static std::unique_ptr<CPluginHost> Open(const QString &dir, QString *errorString,
                                             const QStringList &sharedDirs = {});
    ~CPluginHost();
    CPluginHost(const CPluginHost &) = delete;
    CPluginHost &operator=(const CPluginHost &) = delete;

    QString Dir() const { return m_dir; }
    CPluginArray *Plugins() { return &m_plugins; }

    struct SkippedFile {
        QString path;
        QString reason;
    };
    // The module files Open could not load, in file-name order.
    const std::vector<SkippedFile> &Skipped() const { return m_skipped; }

private:
    explicit CPluginHost(const QString &dir);

    QString m_dir;
    CPluginArray m_plugins;
    std::vector<SkippedFile> m_skipped;
};

// The current plug-in directory, absolute and without a trailing separator;
// empty while no host is open.
OSTRELHOST_EXPORT QString GetCurrentPluginDir();
// The current host's plug-ins; null while no host is open.
OSTRELHOST_EXPORT CPluginArray *GetCurrentPluginArray();
