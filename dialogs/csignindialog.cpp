#include "csignindialog.h"

#include "modalaccessibility.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CSignInDialog::CSignInDialog(const QString &label, const QString &user, const QString &stored, bool canRemove,
                             QWidget *parent)
    : QDialog(parent), m_user(new QLineEdit(user, this)), m_password(new QLineEdit(this))
{
    setWindowTitle(QStringLiteral("Anmeldedaten"));
    MarkForScreenReaders(this);
    m_user->setObjectName(QStringLiteral("user"));
    m_password->setObjectName(QStringLiteral("password"));
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setPlaceholderText(QStringLiteral("unverändert lassen"));
    auto *state = new QLabel(stored, this);
    state->setObjectName(QStringLiteral("stored"));
    state->setTextFormat(Qt::PlainText);
    state->setWordWrap(true);
    auto *entry = new QLabel(label, this);
    entry->setTextFormat(Qt::PlainText);

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Eintrag:"), entry);
    form->addRow(QStringLiteral("&Benutzername:"), m_user);
    form->addRow(QStringLiteral("&Passwort:"), m_password);
    form->addRow(QStringLiteral("Im Schlüsselbund:"), state);

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *save = buttons->addButton(QStringLiteral("&Speichern"), QDialogButtonBox::AcceptRole);
    QPushButton *remove = buttons->addButton(QStringLiteral("Passwort &entfernen"), QDialogButtonBox::DestructiveRole);
    buttons->addButton(QStringLiteral("&Abbrechen"), QDialogButtonBox::RejectRole);
    save->setDefault(true);
    remove->setEnabled(canRemove);
    connect(save, &QPushButton::clicked, this, [this] {
        m_outcome = Saved;
        accept();
    });
    connect(remove, &QPushButton::clicked, this, [this] {
        m_outcome = PasswordRemoved;
        accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    m_user->setFocus();
}

QString CSignInDialog::User() const
{
    return m_user->text().trimmed();
}

QString CSignInDialog::Password() const
{
    return m_password->text();
}
