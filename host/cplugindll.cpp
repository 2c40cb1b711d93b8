#include "cplugindll.h"

#include <QFileInfo>
#include <QLibrary>

namespace {

template<typename Fn>
Fn resolve(QLibrary &library, const char *symbol)
{
    return reinterpret_cast<Fn>(library.resolve(symbol));
}

QString callString(PluginStringExport fn)
{
    QString text;
    if (fn)
        fn(&text);
    return text;
}

} // namespace

CPluginDLL::CPluginDLL(std::unique_ptr<QLibrary> library, const Identity &identity)
    : m_library(std::move(library)), m_identity(identity)
{
}

CPluginDLL::~CPluginDLL()
{
    m_library->unload();
}

std::shared_ptr<CPluginDLL> CPluginDLL::Load(const QString &path, QString *errorString)
{
    auto fail = [errorString](const QString &why) {
        if (errorString)
            *errorString = why;
        return std::shared_ptr<CPluginDLL>();
    };

    auto library = std::make_unique<QLibrary>(path);
    if (!library->load())
        return fail(library->errorString());

    Identity identity;
    identity.name = resolve<PluginStringExport>(*library, "GetPluginName");
    identity.info = resolve<PluginStringExport>(*library, "GetPluginInfo");
    identity.typeString = resolve<PluginStringExport>(*library, "GetPluginTypeAsString");
    identity.typeCode = resolve<PluginTypeExport>(*library, "GetPluginTypeAsInteger");
    identity.showDialog = resolve<ShowPluginDialogExport>(*library, "ShowPluginDialog");

    auto missing = [&library, &fail](const char *symbol) {
        library->unload();
        return fail(QStringLiteral("not a plug-in: export %1 is missing").arg(QLatin1String(symbol)));
    };
    if (!identity.name)
        return missing("GetPluginName");
    if (!identity.info)
        return missing("GetPluginInfo");
    if (!identity.typeString)
        return missing("GetPluginTypeAsString");
    if (!identity.typeCode)
        return missing("GetPluginTypeAsInteger");

    int type = 0;
    identity.typeCode(&type);
    switch (type) {
    case PLUGINTYPE_PUBWORKER: {
        auto service = resolve<GetSupportedServiceExport>(*library, "GetSupportedService");
        if (!service)
            return missing("GetSupportedService");
        return std::shared_ptr<CPluginDLL>(
            new CPubWorkerPluginDLL(std::move(library), identity, service));
    }
    case PLUGINTYPE_SERVERBOOK: {
        auto show = resolve<ShowServerBookExport>(*library, "ShowServerBook");
        if (!show)
            return missing("ShowServerBook");
        auto last = resolve<GetLastServerBookEntryExport>(*library, "GetLastServerBookEntry");
        if (!last)
            return missing("GetLastServerBookEntry");
        auto lastError = resolve<PluginStringExport>(*library, "GetLastServerBookError");
        return std::shared_ptr<CPluginDLL>(
            new CServerbookExtPluginDLL(std::move(library), identity, show, last, lastError));
    }
    default:
        return std::shared_ptr<CPluginDLL>(new CPluginDLL(std::move(library), identity));
    }
}

QString CPluginDLL::GetPluginName() const
{
    return callString(m_identity.name);
}

QString CPluginDLL::GetPluginInfo() const
{
    return callString(m_identity.info);
}

int CPluginDLL::GetPluginType(QString *typeString) const
{
    if (typeString)
        *typeString = callString(m_identity.typeString);
    int type = 0;
    m_identity.typeCode(&type);
    return type;
}

void CPluginDLL::ShowPluginDialog() const
{
    if (m_identity.showDialog)
        m_identity.showDialog();
}

QString CPluginDLL::GetPluginFileName() const
{
    return QFileInfo(m_library->fileName()).fileName();
}

CPubWorkerPluginDLL::CPubWorkerPluginDLL(std::unique_ptr<QLibrary> library,
                                         const Identity &identity,
                                         GetSupportedServiceExport supportedService)
    : CPluginDLL(std::move(library), identity), m_supportedService(supportedService)
{
}

ServiceCode CPubWorkerPluginDLL::GetSupportedService() const
{
    return m_supportedService();
}

CServerbookExtPluginDLL::CServerbookExtPluginDLL(std::unique_ptr<QLibrary> library,
                                                 const Identity &identity,
                                                 ShowServerBookExport show,
                                                 GetLastServerBookEntryExport last,
                                                 PluginStringExport lastError)
    : CPluginDLL(std::move(library), identity), m_show(show), m_last(last), m_lastError(lastError)
{
}

void CServerbookExtPluginDLL::ShowServerBook(int ignored) const
{
    m_show(ignored);
}

int CServerbookExtPluginDLL::GetLastServerBookEntry(void *entry) const
{
    return m_last(static_cast<SERVERBOOKENTRYSTRUC *>(entry));
}

QString CServerbookExtPluginDLL::GetLastServerBookError() const
{
    return callString(m_lastError);
}
