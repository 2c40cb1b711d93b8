#include "signinactions.h"

#include "addresscredentials.h"
#include "booklistview.h"
#include "clistbox.h"
#include "csignindialog.h"
#include "cserverbookstore.h"
#include "keyring.h"
#include "keyringwait.h"
#include "messagebox.h"

#include <QUrl>

namespace {

QString storedText(const KeyringAnswer &answer)
{
    switch (answer.status) {
    case KeyringAnswer::Status::Found:
        return QStringLiteral("Ein Passwort ist gespeichert.");
    case KeyringAnswer::Status::NotFound:
        return QStringLiteral("Kein Passwort gespeichert.");
    default:
        return QStringLiteral("Nicht erreichbar. ") + answer.why;
    }
}

} // namespace

void SignInActions::EditSignIn()
{
    const int selected = m_view.CheckedSelection();
    if (selected == -1)
        return;
    const RowSnapshot row = m_view.Shown();
    const QString server = m_view.ShownServer();
    if (QUrl(server, QUrl::TolerantMode).host().isEmpty()) {
        m_view.Tell(QStringLiteral("Dieser Eintrag nennt keinen Server, bei dem man sich anmeldet."), MessageBoxFlags::Ok);
        return;
    }
    const QString user = CredentialsIn(server).user;
    const std::optional<SignInKey> key = SignInKeyOf(server);
    KeyringAnswer stored{KeyringAnswer::Status::NotFound, {}, {}};
    if (key)
        stored = WaitForKeyring(m_view.Window(), [&key](const KeyringCancel *cancel) { return Keyring::Lookup(*key, cancel); });
    CSignInDialog dialog(m_view.Lines()->GetText(selected), user,
                         key ? storedText(stored) : QStringLiteral("Ohne Benutzernamen wird kein Passwort gespeichert."),
                         stored.status == KeyringAnswer::Status::Found, m_view.Window());
    if (dialog.exec() != QDialog::Accepted)
        return;

    if (dialog.Chosen() == CSignInDialog::PasswordRemoved) {
        const KeyringAnswer removed =
            WaitForKeyring(m_view.Window(), [&key](const KeyringCancel *cancel) { return Keyring::Clear(*key, cancel); });
        if (!removed.reached())
            m_view.Tell(QStringLiteral("Das Passwort wurde nicht entfernt. ") + removed.why, MessageBoxFlags::Ok);
        return;
    }
    const QString changed = dialog.User() == user ? server : WithUser(server, dialog.User());
    if (!dialog.Password().isEmpty() && !OfferPassword(changed, dialog.Password()))
        return;
    if (changed == server || m_view.RefusedAsReadOnly())
        return;
    if (!m_view.Book()->UpdateServer(row, changed)) {
        m_view.Tell(QStringLiteral("Der Eintrag wurde inzwischen von einem anderen Programm geändert oder gelöscht; "
                                   "der Benutzername wurde nicht gespeichert."),
                    MessageBoxFlags::Ok);
        m_view.CatchUp();
        return;
    }
    m_view.ShowDetails();
}

bool SignInActions::OfferPassword(const QString &address, const QString &password)
{
    const std::optional<SignInKey> key = SignInKeyOf(address);
    if (!key) {
        m_view.Tell(QStringLiteral("Ein Passwort braucht einen Benutzernamen, unter dem es im Schlüsselbund liegt. "
                                   "Geben Sie die Adresse als benutzer:passwort@server an."),
                    MessageBoxFlags::Ok);
        return false;
    }
    const KeyringAnswer stored = WaitForKeyring(m_view.Window(), [&key, &password](const KeyringCancel *cancel) {
        return Keyring::Store(*key, password, cancel);
    });
    if (!stored.reached()) {
        m_view.Tell(QStringLiteral("Das Passwort konnte nicht im Schlüsselbund gespeichert werden. %1\n\n"
                                   "Im Serverbook wird es nie gespeichert; nichts wurde geändert.")
                        .arg(stored.why),
                    MessageBoxFlags::Ok);
        return false;
    }
    return true;
}

bool SignInActions::TakePasswordOut(QString &address)
{
    const AddressCredentials credentials = CredentialsIn(address);
    if (!credentials.hasPassword)
        return true;
    const QString without = WithoutPassword(address);
    const int answer = m_view.Tell(
        QStringLiteral("Die Adresse enthält ein Passwort. Im Serverbook wird es nicht gespeichert, denn das "
                       "Serverbook lesen auch andere Programme und Benutzer.\n\nSoll das Passwort im Schlüsselbund "
                       "der Arbeitsumgebung gespeichert werden? (Nein: Es wird verworfen.)"),
        MessageBoxFlags::YesNo | MessageBoxFlags::IconQuestion);
    if (answer == IDYES && !OfferPassword(without, credentials.password))
        return false;
    address = without;
    return true;
}
