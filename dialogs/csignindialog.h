#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;

// "Anmeldedaten": the user name of an entry (kept in its address) and its
// password (kept in the desktop's keyring), with what the keyring holds.
// The password field is masked and starts empty: typing one replaces what
// is stored; "Passwort entfernen" asks for the stored one to go.
class CSignInDialog : public QDialog
{
public:
    enum Outcome { Cancelled, Saved, PasswordRemoved };

    // stored says what the keyring holds for the entry now, or why it
    // cannot be reached; canRemove whether there is a password to remove.
    CSignInDialog(const QString &label, const QString &user, const QString &stored, bool canRemove, QWidget *parent);

    Outcome Chosen() const { return m_outcome; }
    QString User() const;
    QString Password() const;

private:
    QLineEdit *m_user;
    QLineEdit *m_password;
    Outcome m_outcome = Cancelled;
};
