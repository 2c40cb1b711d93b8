// A publishing worker for FTP, as small as the host allows: it identifies
// itself and names the protocol it transfers over. The host finds these
// functions by name; a null pointer must be left alone.

#include <pluginapi.h>

extern "C" {

Q_DECL_EXPORT QString *GetPluginName(QString *name)
{
    if (name)
        *name = QStringLiteral("Beispiel-FTP-Worker");
    return name;
}

Q_DECL_EXPORT QString *GetPluginInfo(QString *info)
{
    if (info)
        *info = QStringLiteral("Ein Publishing-Worker aus dem SDK-Beispiel.");
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
    return Service::Ftp;
}

} // extern "C"
