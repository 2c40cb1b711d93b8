#pragma once

// The binary contract between the host and its plug-in modules: the codes and
// records that cross the boundary, and the exports the host looks up by name.
// Host and plug-ins are built against the same Qt, so QString crosses as is.

#include <QString>

// Plug-in type codes, as a module reports them from GetPluginTypeAsInteger.
enum PluginType : int {
    PLUGINTYPE_PUBWORKER = 2,   // a publishing worker: transfers files over one protocol
    PLUGINTYPE_SERVERBOOK = 7,  // a server book extension
};

// A transfer protocol, as a publishing worker and the address parser report it.
using ServiceCode = int;
namespace Service {
inline constexpr ServiceCode Ftp = 1;
inline constexpr ServiceCode Gopher = 2;
inline constexpr ServiceCode Http = 3;
inline constexpr ServiceCode Unknown = 0x1000;
inline constexpr ServiceCode File = 0x1001;  // local paths
inline constexpr ServiceCode Mailto = 0x1002;
inline constexpr ServiceCode Mid = 0x1003;
inline constexpr ServiceCode Cid = 0x1004;
inline constexpr ServiceCode News = 0x1005;
inline constexpr ServiceCode Nntp = 0x1006;
inline constexpr ServiceCode Prospero = 0x1007;
inline constexpr ServiceCode Telnet = 0x1008;
inline constexpr ServiceCode Wais = 0x1009;
inline constexpr ServiceCode Afs = 0x100A;
inline constexpr ServiceCode Https = 0x100B;
}

// Handed by the host to GetLastServerBookEntry; the three strings are the
// caller's and are overwritten whole.
struct SERVERBOOKENTRYSTRUC {
    QString strServer;
    QString strStartDir;
    QString strPluginFile;
};

/*
 * Exports, by undecorated C name. A null pointer argument is never
 * dereferenced; no exception ever leaves an export.
 *
 * Every plug-in (required):
 *   QString* GetPluginName(QString* name);          assigns the name, returns name
 *   QString* GetPluginInfo(QString* info);          assigns a description, returns info
 *   QString* GetPluginTypeAsString(QString* type);  assigns e.g. "PLUGINTYPE_PUBWORKER"
 *   int*     GetPluginTypeAsInteger(int* type);     writes the type code, returns type
 * Every plug-in (optional):
 *   void     ShowPluginDialog();                    runs the About box modally
 * Publishing workers (required):
 *   int      GetSupportedService();                 the ServiceCode it transfers over
 * Server book extensions (required):
 *   void     ShowServerBook(int ignored);           runs one modal selection
 *   int      GetLastServerBookEntry(SERVERBOOKENTRYSTRUC* entry);
 *                                                   copies the last pick out, returns
 *                                                   its result code (1 OK, 2 Cancel,
 *                                                   -1 no dialog, 0 before any call)
 * Server book extensions (optional):
 *   QString* GetLastServerBookError(QString* error);
 *                                                   why the last ShowServerBook showed
 *                                                   nothing; empty after one that ran
 *   int      GetLastServerBookPassword(QString* password);
 *                                                   the password of the last pick from
 *                                                   the desktop's keyring, kept under
 *                                                   the user, host, protocol and port
 *                                                   of its address: 1 found (assigned),
 *                                                   0 none (or no pick, or no user name
 *                                                   in the address), -1 keyring not
 *                                                   available. It may wait a few seconds
 *                                                   for the keyring, or for the user at
 *                                                   its unlock prompt; it never shows
 *                                                   or logs the password.
 */
using PluginStringExport = QString* (*)(QString*);
using PluginTypeExport = int* (*)(int*);
using ShowPluginDialogExport = void (*)();
using GetSupportedServiceExport = int (*)();
using ShowServerBookExport = void (*)(int);
using GetLastServerBookEntryExport = int (*)(SERVERBOOKENTRYSTRUC*);
using GetLastServerBookPasswordExport = int (*)(QString*);
