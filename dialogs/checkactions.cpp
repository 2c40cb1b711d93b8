#include "checkactions.h"

#include "booklistview.h"
#include "ccheckdialog.h"
#include "clistbox.h"
#include "keyring.h"
#include "keyringwait.h"
#include "loadedworkers.h"
#include "modalaccessibility.h"
#include "signinactions.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>

namespace {

struct AskedPassword {
    QString password;
    bool keep = false;
};

// The password for a check, asked for masked; none when the user declines.
std::optional<AskedPassword> askPassword(const SignInKey &key, QWidget *parent)
{
    QDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("Passwort für die Prüfung"));
    MarkForScreenReaders(&dialog);
    auto *password = new QLineEdit(&dialog);
    password->setObjectName(QStringLiteral("password"));
    password->setEchoMode(QLineEdit::Password);
    auto *keep = new QCheckBox(QStringLiteral("Im Schlüsselbund der Arbeitsumgebung &speichern"), &dialog);
    keep->setObjectName(QStringLiteral("keep"));
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto *form = new QFormLayout(&dialog);
    auto *about = new QLabel(QStringLiteral("Im Schlüsselbund liegt kein Passwort für %1@%2.").arg(key.user, key.server),
                             &dialog);
    about->setTextFormat(Qt::PlainText);
    form->addRow(about);
    form->addRow(QStringLiteral("&Passwort:"), password);
    form->addRow(keep);
    form->addRow(buttons);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return AskedPassword{password->text(), keep->isChecked()};
}

} // namespace

void CheckActions::CheckConnection()
{
    const int selected = m_view.CheckedSelection();
    if (selected == -1)
        return;
    const QString server = m_view.ShownServer();
    CheckRequest request{server, m_view.ShownStartDir(), m_view.ShownPluginFile(), LoadedWorkers(), {}, false,
                         DefaultKnownHostsFile(), false, 10, {}};
    if (const std::optional<SignInKey> key = SignInKeyOf(server)) {
        const KeyringAnswer stored =
            WaitForKeyring(m_view.Window(), [&key](const KeyringCancel *cancel) { return Keyring::Lookup(*key, cancel); });
        if (stored.status == KeyringAnswer::Status::Found) {
            request.password = stored.password;
        } else if (const std::optional<AskedPassword> asked = askPassword(*key, m_view.Window())) {
            request.password = asked->password;
            if (asked->keep && !asked->password.isEmpty())
                SignInActions(m_view).OfferPassword(server, asked->password);
        }
    }
    CCheckDialog dialog(m_view.Lines()->GetText(selected), request, m_view.Window());
    dialog.exec();
}
