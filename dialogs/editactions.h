#pragma once

class BookListView;
class SignInActions;

// "Bearbeiten …" and "Duplizieren" on the selected entry. Both change the
// book only while the entry's row still holds what the pane shows; an
// edit the book could not take keeps what the user typed.
class EditActions
{
public:
    EditActions(BookListView &view, SignInActions &signIn) : m_view(view), m_signIn(signIn) {}

    void EditEntry();
    void DuplicateEntry();

private:
    int selectionToChange();

    BookListView &m_view;
    SignInActions &m_signIn;
};
