#pragma once

#include "ostrelhost_global.h"
#include "pluginapi.h"

#include <QString>

#include <memory>

class QLibrary;

// One loaded plug-in module and its identity. A module, once loaded, stays
// loaded until the process ends, also after its wrapper goes.
class OSTRELHOST_EXPORT CPluginDLL
{
public:
    virtual ~CPluginDLL();
    CPluginDLL(const CPluginDLL &) = delete;
    CPluginDLL &operator=(const CPluginDLL &) = delete;

    // Loads the module at path and wraps it by its type code. Returns null,
    // with the reason in *errorString, when the file is not a loadable module
    // or lacks an export its type requires.
    static std::shared_ptr<CPluginDLL> Load(const QString &path, QString *errorString);

    QString GetPluginName() const;
    QString GetPluginInfo() const;
    // Returns the type code; assigns the type string when typeString is given.
    int GetPluginType(QString *typeString) const;
    // Runs the module's About box; does nothing for a module without one.
    void ShowPluginDialog() const;
    // The module's file name without its directory, e.g. "Kelvo.so".
    QString GetPluginFileName() const;

protected:
    struct Identity {
        PluginStringExport name = nullptr;
        PluginStringExport info = nullptr;
        PluginStringExport typeString = nullptr;
        PluginTypeExport typeCode = nullptr;
        ShowPluginDialogExport showDialog = nullptr;
    };
    CPluginDLL(std::unique_ptr<QLibrary> library, const Identity &identity);

private:
    std::unique_ptr<QLibrary> m_library;
    Identity m_identity;
};

class OSTRELHOST_EXPORT CPubWorkerPluginDLL : public CPluginDLL
{
public:
    ServiceCode GetSupportedService() const;

private:
    friend class CPluginDLL;
    CPubWorkerPluginDLL(std::unique_ptr<QLibrary> library, const Identity &identity,
                        GetSupportedServiceExport supportedService);
    GetSupportedServiceExport m_supportedService;
};

class OSTRELHOST_EXPORT CServerbookExtPluginDLL : public CPluginDLL
{
public:
    void ShowServerBook(int ignored) const;
    // entry points to a SERVERBOOKENTRYSTRUC; returns the last result code.
    int GetLastServerBookEntry(void *entry) const;
    // Why the last ShowServerBook showed no dialog; empty when it ran, or when
    // the module cannot tell.
    QString GetLastServerBookError() const;
    // The password of the last pick from the desktop's keyring: 1 found (in
    // password), 0 none, -1 no keyring; 0 from a module that keeps none.
    int GetLastServerBookPassword(QString *password) const;

private:
    friend class CPluginDLL;
    struct Exports {
        ShowServerBookExport show;
        GetLastServerBookEntryExport last;
        PluginStringExport lastError;
        GetLastServerBookPasswordExport lastPassword;
    };
    CServerbookExtPluginDLL(std::unique_ptr<QLibrary> library, const Identity &identity, const Exports &exports);
    Exports m_exports;
};
