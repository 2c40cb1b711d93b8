// A publishing worker for FTP, as small as the host allows: it identifies
// itself and names the protocol it transfers over. The host finds these
// functions by name; a null pointer must be left alone.
//
// Name, description and protocol may also be given when building: the sample
// workers of the Kelvo tree are this file, built once per protocol.

#include <pluginapi.h>

#ifndef WORKER_NAME
#define WORKER_NAME "Beispiel-FTP-Worker"
#define WORKER_INFO "Ein Publishing-Worker aus dem SDK-Beispiel."
#define WORKER_SERVICE Service::Ftp
#endif

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
