// The module's exports: identity, About box, and the server book selection
// with its outcome. Every export is guarded: a null pointer is never
// dereferenced, and no exception leaves the module.

#include "caboutdialog.h"
#include "cpluginhost.h"
#include "cserverbookdialog.h"
#include "cserverbookstore.h"
#include "keyring.h"
#include "kelvotemplates.h"
#include "modalaccessibility.h"
#include "pluginapi.h"
#include "pluginstate.h"
#include "qtgermantexts.h"
#include "storeerror.h"
#include "templateregistry.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QThread>

#include <new>

#define KELVO_EXPORT extern "C" Q_DECL_EXPORT

Q_LOGGING_CATEGORY(lcKelvo, "kelvo.serverbook")

namespace {

// Both live from load to unload; the templates are registered after the state
// exists and unregistered before it goes.
PluginState g_state;

struct TemplateRegistration {
    TemplateRegistration() { RegisterDialogTemplates(KelvoTemplates()); }
    ~TemplateRegistration() { UnregisterDialogTemplates(KelvoTemplates()); }
} g_templates;

const ModalAccessibility g_modalDialogs;

template<typename Fn>
void guarded(const char *exportName, Fn &&fn) noexcept
{
    try {
        fn();
    } catch (const std::exception &error) {
        qCCritical(lcKelvo, "%s failed: %s", exportName, error.what());
    } catch (...) {
        qCCritical(lcKelvo, "%s failed", exportName);
    }
}

QString *assign(QString *target, const char *exportName, const QString &text) noexcept
{
    if (target)
        guarded(exportName, [&] { *target = text; });
    return target;
}

// Why a ShowServerBook call showed nothing: the last outcome stays as it was,
// and the host can ask for the reason.
void reportNotShown(const QString &reason)
{
    g_state.lastError = reason;
    qCWarning(lcKelvo, "%s", qUtf8Printable(reason));
}

void showServerBook()
{
    g_state.lastError.clear();
    // Widgets live on the application's thread alone; one made elsewhere
    // crashes the host or never ends.
    if (QCoreApplication::instance() && QThread::currentThread() != QCoreApplication::instance()->thread()) {
        // No entry of an earlier call may pass for this call's pick.
        g_state.lastResult = -1;
        g_state.lastServer.clear();
        g_state.lastStartDir.clear();
        g_state.lastPluginFile.clear();
        reportNotShown(QStringLiteral("Das Serverbook kann nur vom Thread der Benutzeroberfläche aus angezeigt werden; "
                                      "ShowServerBook wurde aus einem anderen Thread aufgerufen."));
        return;
    }
    CServerBookStore store;
    try {
        store.Open(CServerBookStore::FileIn(GetCurrentPluginDir()));
    } catch (const StoreError &error) {
        reportNotShown(error.message());
        return;
    }
#ifdef KELVO_FAULT_INJECTION
    // Test builds only: a failure that is no store error, while the dialog is made.
    if (qEnvironmentVariableIsSet("KELVO_FAIL_BUILDING_DIALOG"))
        throw std::bad_alloc();
#endif

    // Without a QApplication no dialog can be made: the run ends with -1
    // and empty results.
    int result = -1;
    QString server, startDir, pluginFile;
    if (CDialog::CanCreate()) {
        const QtGermanTexts germanTexts;
        CServerBookDialog dialog;
        dialog.m_pStore = &store;
        result = dialog.DoModal();
        if (!dialog.ListingFailure().isEmpty()) {
            reportNotShown(dialog.ListingFailure());
            return;
        }
        server = dialog.m_strServer;
        startDir = dialog.m_strStartDir;
        pluginFile = dialog.m_strPluginFile;
    }
    g_state.lastResult = result;
    g_state.lastServer = server;
    g_state.lastStartDir = startDir;
    g_state.lastPluginFile = pluginFile;
    store.Close();
}

} // namespace

KELVO_EXPORT QString *GetPluginName(QString *name)
{
    return assign(name, "GetPluginName", QStringLiteral("Standard-ServerBook v1.0"));
}

KELVO_EXPORT QString *GetPluginInfo(QString *info)
{
    return assign(info, "GetPluginInfo",
                  QStringLiteral("Standard-Plugin für Ostrel v1.0 zur Verwaltung eines Serverbooks."));
}

KELVO_EXPORT QString *GetPluginTypeAsString(QString *type)
{
    return assign(type, "GetPluginTypeAsString", QStringLiteral("PLUGINTYPE_KELVOEXTENSION"));
}

KELVO_EXPORT int *GetPluginTypeAsInteger(int *type)
{
    if (type)
        *type = PLUGINTYPE_SERVERBOOK;
    return type;
}

KELVO_EXPORT void ShowPluginDialog()
{
    guarded("ShowPluginDialog", [] {
        if (!CDialog::CanCreate())
            return;
        const QtGermanTexts germanTexts;
        CAboutDialog dialog;
        dialog.DoModal();
    });
}

KELVO_EXPORT void ShowServerBook(int)
{
    guarded("ShowServerBook", [] {
        // Whatever fails, the call counts as not shown and leaves its reason.
        try {
            showServerBook();
        } catch (const std::exception &error) {
            reportNotShown(QStringLiteral("Das Serverbook konnte nicht angezeigt werden: %1")
                               .arg(QString::fromUtf8(error.what())));
        } catch (...) {
            reportNotShown(QStringLiteral("Das Serverbook konnte nicht angezeigt werden."));
        }
    });
}

KELVO_EXPORT int GetLastServerBookEntry(SERVERBOOKENTRYSTRUC *entry)
{
    if (entry) {
        guarded("GetLastServerBookEntry", [entry] {
            entry->strServer = g_state.lastServer;
            entry->strStartDir = g_state.lastStartDir;
            entry->strPluginFile = g_state.lastPluginFile;
        });
    }
    return g_state.lastResult;
}

KELVO_EXPORT QString *GetLastServerBookError(QString *error)
{
    return assign(error, "GetLastServerBookError", g_state.lastError);
}

KELVO_EXPORT int GetLastServerBookPassword(QString *password)
{
    int found = 0;
    guarded("GetLastServerBookPassword", [password, &found] {
        if (password)
            password->clear();
        // Only a pick has a password; its key is the picked address.
        const std::optional<SignInKey> key = g_state.lastResult == 1 ? SignInKeyOf(g_state.lastServer) : std::nullopt;
        if (!key)
            return;
        const KeyringAnswer answer = Keyring::Lookup(*key);
        if (!answer.reached()) {
            qCWarning(lcKelvo, "%s", qUtf8Printable(answer.why));
            found = -1;
        } else if (answer.status == KeyringAnswer::Status::Found) {
            if (password)
                *password = answer.password;
            found = 1;
        }
    });
    return found;
}
