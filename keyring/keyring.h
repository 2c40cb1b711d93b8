#pragma once

#include <QString>

#include <atomic>
#include <optional>

// Passwords live in the desktop's keyring, reached through the Secret Service
// (GNOME Keyring, KWallet's and KeePassXC's Secret Service), never in the
// book: a shared book carries nobody's password, and each colleague keeps
// their own.

// What a password is kept under: the network-password attributes the
// desktop's file manager uses, so that a password saved there for a server
// and user is found here and the other way round.
struct SignInKey {
    QString user;
    QString server;    // the host name, lowercase
    QString protocol;  // the address's scheme, lowercase
    int port = 0;      // 0 for the scheme's standard port
    bool operator==(const SignInKey &) const = default;
};

// The key of the password that signs in at address: its user name, host,
// scheme and port. None for an address that names no user or no host (a
// local path, a half-typed address).
std::optional<SignInKey> SignInKeyOf(const QString &address);

struct KeyringAnswer {
    enum class Status {
        Found,        // Lookup: password holds it
        NotFound,     // Lookup: the keyring holds none for the key
        Done,         // Store, Clear: done (Clear also when there was none)
        Unavailable,  // no keyring, a locked one, no answer, or cancelled
    };
    Status status = Status::Unavailable;
    QString password;
    // With Unavailable: why, in German, with what the user can do.
    QString why;
    bool reached() const { return status != Status::Unavailable; }
};

// Lets another thread stop a call that waits for the keyring (a dialog
// that closes, Cancel pressed): the call ends within a tenth of a second.
class KeyringCancel
{
public:
    void Cancel() { m_cancelled = true; }
    bool Cancelled() const { return m_cancelled; }

private:
    std::atomic<bool> m_cancelled = false;
};

// The calls block their thread, each step for a bounded time: reaching the
// keyring and each request get a few seconds, an unlock prompt (where the
// user types the keyring's password) two minutes. User interfaces make
// them on a thread of their own.
namespace Keyring {
KeyringAnswer Lookup(const SignInKey &key, const KeyringCancel *cancel = nullptr);
KeyringAnswer Store(const SignInKey &key, const QString &password, const KeyringCancel *cancel = nullptr);
KeyringAnswer Clear(const SignInKey &key, const KeyringCancel *cancel = nullptr);
} // namespace Keyring
