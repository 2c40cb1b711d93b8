#include "cpluginhost.h"

#include "cplugindll.h"

#include <QDir>
#include <QFileInfo>
#include <QLibrary>
#include <QLoggingCategory>

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

std::unique_ptr<CPluginHost> CPluginHost::Open(const QString &dir, QString *errorString)
{
    const QFileInfo info(dir);
    if (!info.isDir() || !info.isReadable()) {
        if (errorString)
            *errorString = QStringLiteral("%1 is not a readable directory")
                               .arg(QDir::toNativeSeparators(dir));
        return nullptr;
    }

    std::unique_ptr<CPluginHost> host(new CPluginHost(QDir::cleanPath(info.absoluteFilePath())));
    const QFileInfoList files =
        QDir(host->m_dir).entryInfoList(QDir::Files | QDir::Hidden, QDir::Name);
    for (const QFileInfo &file : files) {
        if (!QLibrary::isLibrary(file.fileName()))
            continue;
        QString why;
        if (auto plugin = CPluginDLL::Load(file.absoluteFilePath(), &why)) {
            host->m_plugins.Add(std::move(plugin));
        } else {
            host->m_skipped.push_back({file.absoluteFilePath(), why});
            qCWarning(lcPluginHost, "Skipping %s: %s",
                      qUtf8Printable(QDir::toNativeSeparators(file.absoluteFilePath())),
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
