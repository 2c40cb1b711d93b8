#pragma once

class BookListView;

// "Verbindung prüfen" (Ctrl+T) on the selected entry: the check dialog,
// signing in with the password the keyring holds, or one asked for once
// (masked, with the offer to keep it in the keyring).
class CheckActions
{
public:
    explicit CheckActions(BookListView &view) : m_view(view) {}

    void CheckConnection();

private:
    BookListView &m_view;
};
