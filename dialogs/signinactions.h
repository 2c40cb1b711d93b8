#pragma once

#include <QString>

class BookListView;

// Sign-in data of entries: the user name belongs to the address, the
// password to the desktop's keyring and never to the book.
// "Anmeldedaten …" edits both for the selected entry; an address typed or
// pasted with a password in it has the password taken out, and kept in the
// keyring if the user wants, before the address is stored.
class SignInActions
{
public:
    explicit SignInActions(BookListView &view) : m_view(view) {}

    void EditSignIn();
    // Takes a password out of address before it is stored, offering to keep
    // it in the keyring. False, after telling the user why, when the address
    // is not to be stored yet: the keyring could not take the password, or
    // there is no user name to keep it under.
    bool TakePasswordOut(QString &address);
    // The same for a password that came apart from its address (a link).
    bool OfferPassword(const QString &address, const QString &password);

private:
    BookListView &m_view;
};
