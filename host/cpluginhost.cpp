#include "cpluginhost.h"

#include "cplugindll.h"

#include <QDir>
#include <QFileInfo>
#include <QLibrary>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcPluginHost, "ostrel.host")

namespace {
CPluginHost *g_current = nullptr;
}

CPluginHost::CPluginHost(const QString &dir) : m_dir(dir), m_previous(g_current)
{
    g_current = this;
}

CPluginHost::~CPluginHost()
{
    if (g_current == this)
        g_current = m_previous;
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
        if (auto plugin = CPluginDLL::Load(file.absoluteFilePath(), &why))
            host->m_plugins.Add(std::move(plugin));
        else
            qCWarning(lcPluginHost, "Skipping %s: %s",
                      qUtf8Printable(QDir::toNativeSeparators(file.absoluteFilePath())),
                      qUtf8Printable(why));
    }
    return host;
}

QString GetCurrentPluginDir()
{
    return g_current ? g_current->Dir() : QString();
}

CPluginArray *GetCurrentPluginArray()
{
    return g_current ? g_current->Plugins() : nullptr;
}
