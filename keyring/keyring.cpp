// libsecret's headers come first: Qt's keyword macros would break GLib's.
#include <libsecret/secret.h>

#include "keyring.h"

#include "addresscredentials.h"

#include <QUrl>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;

namespace {

// The port a scheme is reached at when its address names none; a key
// written with it and one without are the same key.
int standardPort(const QString &scheme)
{
    static const std::pair<const char *, int> ports[] = {
        {"ftp", 21}, {"ftpes", 21}, {"ftps", 990}, {"sftp", 22}, {"scp", 22},
        {"http", 80}, {"dav", 80},  {"https", 443}, {"davs", 443}, {"gopher", 70},
    };
    for (const auto &[name, port] : ports) {
        if (scheme == QLatin1String(name))
            return port;
    }
    return 0;
}

constexpr auto kAnswerTime = 5s;   // the keyring reached, or one request answered
constexpr auto kUnlockTime = 120s; // the user types the keyring's password

// Owners of what GLib and libsecret hand out.
struct Unref {
    void operator()(gpointer object) const { g_object_unref(object); }
    void operator()(SecretValue *value) const { secret_value_unref(value); }
    void operator()(GHashTable *table) const { g_hash_table_unref(table); }
    void operator()(GError *error) const { g_error_free(error); }
};
using ServicePtr = std::unique_ptr<SecretService, Unref>;
using CollectionPtr = std::unique_ptr<SecretCollection, Unref>;
using ValuePtr = std::unique_ptr<SecretValue, Unref>;
using TablePtr = std::unique_ptr<GHashTable, Unref>;
using ErrorPtr = std::unique_ptr<GError, Unref>;

// One step of a call with its time limit: a watcher cancels the step when
// the time is up or the caller cancels, and tells which it was.
class TimedStep
{
public:
    TimedStep(std::chrono::seconds limit, const KeyringCancel *cancel)
        : m_cancellable(g_cancellable_new()), m_watcher([this, limit, cancel] { watch(limit, cancel); })
    {
    }
    ~TimedStep()
    {
        {
            std::lock_guard lock(m_mutex);
            m_done = true;
        }
        m_wake.notify_one();
        m_watcher.join();
        g_object_unref(m_cancellable);
    }
    GCancellable *cancellable() const { return m_cancellable; }
    bool timedOut() const { return m_timedOut; }

private:
    void watch(std::chrono::seconds limit, const KeyringCancel *cancel)
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        std::unique_lock lock(m_mutex);
        while (!m_done) {
            if (cancel && cancel->Cancelled()) {
                g_cancellable_cancel(m_cancellable);
                return;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                m_timedOut = true;
                g_cancellable_cancel(m_cancellable);
                return;
            }
            m_wake.wait_for(lock, 50ms);
        }
    }

    GCancellable *m_cancellable;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_done = false;
    std::atomic<bool> m_timedOut = false;
    std::thread m_watcher;
};

const QString kWhatToDo = QStringLiteral(
    "Starten oder entsperren Sie den Schlüsselbund der Arbeitsumgebung (etwa GNOME Keyring, KWallet oder "
    "KeePassXC mit Secret Service) und versuchen Sie es noch einmal.");

KeyringAnswer unavailable(const QString &why)
{
    return {KeyringAnswer::Status::Unavailable, {}, why + QLatin1Char(' ') + kWhatToDo};
}

// What went wrong in a step, in words a user can act on.
KeyringAnswer failed(const GError *error, const TimedStep &step)
{
    if (step.timedOut())
        return unavailable(QStringLiteral("Der Schlüsselbund antwortet nicht."));
    if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED))
        return {KeyringAnswer::Status::Unavailable, {}, QStringLiteral("Abgebrochen.")};
    if (g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN)
        || g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER))
        return unavailable(QStringLiteral("Kein Schlüsselbund erreichbar: Auf dem Sitzungsbus läuft kein Secret Service."));
    if (error && error->domain == SECRET_ERROR && error->code == SECRET_ERROR_IS_LOCKED)
        return unavailable(QStringLiteral("Der Schlüsselbund ist gesperrt."));
    return unavailable(QStringLiteral("Der Schlüsselbund ist nicht erreichbar (%1).")
                           .arg(QString::fromUtf8(error ? error->message : "ohne Grund")));
}

// The file manager's network-password schema, found also on items that
// other tools stored with its attributes but without its name.
const SecretSchema *foundSchema()
{
    static const SecretSchema schema = {
        "org.gnome.keyring.NetworkPassword",
        SECRET_SCHEMA_DONT_MATCH_NAME,
        {
            {"user", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"domain", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"object", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"protocol", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"port", SECRET_SCHEMA_ATTRIBUTE_INTEGER},
            {"server", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"authtype", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
        },
        0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    };
    return &schema;
}

TablePtr attributesOf(const SignInKey &key)
{
    TablePtr attributes(g_hash_table_new_full(g_str_hash, g_str_equal, g_free, g_free));
    const auto add = [&attributes](const char *name, const QString &value) {
        g_hash_table_insert(attributes.get(), g_strdup(name), g_strdup(value.toUtf8().constData()));
    };
    add("user", key.user);
    add("server", key.server);
    add("protocol", key.protocol);
    if (key.port)
        add("port", QString::number(key.port));
    return attributes;
}

// The Secret Service, reached, with its default collection unlocked (the
// user may be asked for the keyring's password); none with the reason.
struct Reached {
    ServicePtr service;
    KeyringAnswer problem;
};

Reached reach(const KeyringCancel *cancel)
{
    GError *rawError = nullptr;
    ServicePtr service;
    {
        TimedStep step(kAnswerTime, cancel);
        service.reset(secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, step.cancellable(), &rawError));
        const ErrorPtr error(rawError);
        if (!service)
            return {nullptr, failed(error.get(), step)};
    }
    CollectionPtr collection;
    {
        TimedStep step(kAnswerTime, cancel);
        collection.reset(secret_collection_for_alias_sync(service.get(), SECRET_COLLECTION_DEFAULT,
                                                          SECRET_COLLECTION_NONE, step.cancellable(), &rawError));
        const ErrorPtr error(rawError);
        if (error)
            return {nullptr, failed(error.get(), step)};
    }
    // Without a default collection the service makes one when asked to store.
    if (collection && secret_collection_get_locked(collection.get())) {
        TimedStep step(kUnlockTime, cancel);
        GList objects{collection.get(), nullptr, nullptr};
        const int unlocked = secret_service_unlock_sync(service.get(), &objects, step.cancellable(), nullptr, &rawError);
        const ErrorPtr error(rawError);
        if (error)
            return {nullptr, failed(error.get(), step)};
        if (unlocked < 1)
            return {nullptr, unavailable(QStringLiteral("Der Schlüsselbund ist gesperrt und wurde nicht entsperrt."))};
    }
    return {std::move(service), {KeyringAnswer::Status::Done, {}, {}}};
}

} // namespace

std::optional<SignInKey> SignInKeyOf(const QString &address)
{
    const AddressCredentials credentials = CredentialsIn(address);
    if (credentials.user.isEmpty())
        return std::nullopt;
    const QUrl url(address, QUrl::TolerantMode);
    const QString host = url.host(QUrl::FullyDecoded).toLower();
    if (!url.isValid() || host.isEmpty())
        return std::nullopt;
    SignInKey key{credentials.user, host, url.scheme().toLower(), url.port(0)};
    if (key.port == standardPort(key.protocol))
        key.port = 0;
    return key;
}

namespace {

// One request once the keyring is reached: call makes it with the step's
// cancellable and says what its success means; a failure is told.
template<typename Call>
KeyringAnswer requested(const KeyringCancel *cancel, Call call)
{
    Reached reached = reach(cancel);
    if (!reached.service)
        return reached.problem;
    TimedStep step(kAnswerTime, cancel);
    GError *rawError = nullptr;
    KeyringAnswer answer = call(reached.service.get(), step.cancellable(), &rawError);
    const ErrorPtr error(rawError);
    return error ? failed(error.get(), step) : answer;
}

} // namespace

KeyringAnswer Keyring::Lookup(const SignInKey &key, const KeyringCancel *cancel)
{
    return requested(cancel, [&key](SecretService *service, GCancellable *cancellable, GError **error) {
        const ValuePtr value(secret_service_lookup_sync(service, foundSchema(), attributesOf(key).get(), cancellable, error));
        if (!value)
            return KeyringAnswer{KeyringAnswer::Status::NotFound, {}, {}};
        gsize length = 0;
        const gchar *bytes = secret_value_get(value.get(), &length);
        return KeyringAnswer{KeyringAnswer::Status::Found, QString::fromUtf8(bytes, qsizetype(length)), {}};
    });
}

KeyringAnswer Keyring::Store(const SignInKey &key, const QString &password, const KeyringCancel *cancel)
{
    // Named as the file manager names its network passwords.
    QString label = key.user + QLatin1Char('@') + key.server;
    if (key.port)
        label += QLatin1Char(':') + QString::number(key.port);
    label += QStringLiteral(" (%1)").arg(key.protocol);
    return requested(cancel, [&](SecretService *service, GCancellable *cancellable, GError **error) {
        const QByteArray secret = password.toUtf8();
        const ValuePtr value(secret_value_new(secret.constData(), secret.size(), "text/plain"));
        secret_service_store_sync(service, SECRET_SCHEMA_COMPAT_NETWORK, attributesOf(key).get(),
                                  SECRET_COLLECTION_DEFAULT, label.toUtf8().constData(), value.get(), cancellable, error);
        return KeyringAnswer{KeyringAnswer::Status::Done, {}, {}};
    });
}

KeyringAnswer Keyring::Clear(const SignInKey &key, const KeyringCancel *cancel)
{
    return requested(cancel, [&key](SecretService *service, GCancellable *cancellable, GError **error) {
        secret_service_clear_sync(service, foundSchema(), attributesOf(key).get(), cancellable, error);
        return KeyringAnswer{KeyringAnswer::Status::Done, {}, {}};
    });
}
