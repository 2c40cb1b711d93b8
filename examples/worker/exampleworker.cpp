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

// How a worker signs in without asking: for the entry the user just picked,
// the server book hands out the password it keeps in the desktop's keyring
// (the host resolves GetLastServerBookPassword from the server book module
// by name, as it does every export). The user name is in the address.
[[maybe_unused]] static QString PasswordOfPick(GetLastServerBookPasswordExport lastPassword)
{
    QString password;
    if (lastPassword && lastPassword(&password) == 1)
        return password;
    // 0: none is stored; -1: the keyring cannot be reached. Ask the user.
    return {};
}

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
