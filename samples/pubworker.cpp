// A sample publishing worker. The build compiles this file once per protocol,
// with WORKER_SERVICE, WORKER_NAME and WORKER_INFO set; it identifies itself
// and reports the protocol it transfers over, and transfers nothing.

#include "pluginapi.h"

extern "C" {

Q_DECL_EXPORT QString *GetPluginName(QString *name)
{
    if (name)
        *name = QStringLiteral(WORKER_NAME);
    return name;
}

Q_DECL_EXPORT QString *GetPluginInfo(QString *info)
{
    if (info)
        *info = QStringLiteral(WORKER_INFO);
    return info;
}

Q_DECL_EXPORT QString *GetPluginTypeAsString(QString *type)
{
    if (type)
        *type = QStringLiteral("PLUGINTYPE_PUBWORKER");
    return type;
}

Q_DECL_EXPORT int *GetPluginTypeAsInteger(int *type)
{
    if (type)
        *type = PLUGINTYPE_PUBWORKER;
    return type;
}

Q_DECL_EXPORT int GetSupportedService()
{
    return WORKER_SERVICE;
}

} // extern "C"
