#include "cpluginhost.h"

#include "cplugindll.h"
#include "foldertrust.h"

#include <QDir>
#include <QFileInfo>
#include <QLibrary>
#include <QLoggingCategory>

#include <map>
#include <vector>

Q_LOGGING_CATEGORY(lcPluginHost, "ostrel.host")

namespace {
// Every open host, oldest first; the last is the current one. A host leaves
// wherever it stands, so hosts may be destroyed in any order.
std::vector<CPluginHost *> g_open;

CPluginHost *current()
{
    return g_open.empty() ? nullptr : g_open.back();
}
} // namespace

CPluginHost::CPluginHost(const QString &dir) : m_dir(dir)
{
    g_open.push_back(this);
}

CPluginHost::~CPluginHost()
{
    std::erase(g_open, this);
}

std::unique_ptr<CPluginHost> CPluginHost::Open(const QString &dir, QString *errorString,
                                               const QStringList &sharedDirs)
{
    // Each module file name once, from the last folder that has it.
    std::map<QString, QString> modules;
    for (const QString &folder : sharedDirs + QStringList{dir}) {
        const QFileInfo info(folder);
        if (!info.isDir() || !info.isReadable()) {
            if (errorString)
                *errorString = QStringLiteral("%1 is not a readable directory")
                                   .arg(QDir::toNativeSeparators(folder));
            return nullptr;
        }
        // A module is code run as the user: none from a folder someone else
        // could have put it in.
        if (const QString why = WhyNotTrusted(folder); !why.isEmpty()) {
            if (errorString)
                *errorString = why;
            return nullptr;
        }
        const QFileInfoList files = QDir(folder).entryInfoList(QDir::Files | QDir::Hidden);
        for (const QFileInfo &file : files) {
            if (QLibrary::isLibrary(file.fileName()))
                modules[file.fileName()] = file.absoluteFilePath();
        }
    }

    std::unique_ptr<CPluginHost> host(new CPluginHost(QDir::cleanPath(QFileInfo(dir).absoluteFilePath())));
    for (const auto &[fileName, path] : modules) {
        QString why;
        if (auto plugin = CPluginDLL::Load(path, &why)) {
            host->m_plugins.Add(std::move(plugin));
        } else {
            host->m_skipped.push_back({path, why});
            qCWarning(lcPluginHost, "Skipping %s: %s", qUtf8Printable(QDir::toNativeSeparators(path)),
                      qUtf8Printable(why));
        }
    }
    return host;
}

QString GetCurrentPluginDir()
{
    CPluginHost *host = current();
    return host ? host->Dir() : QString();
}

CPluginArray *GetCurrentPluginArray()
{
    CPluginHost *host = current();
    return host ? host->Plugins() : nullptr;
}
