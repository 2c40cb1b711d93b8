#pragma once

class BookListView;

// Carrying an address between the selection list and other programs as a
// link: "Adresse kopieren" (Ctrl+C) puts the selected entry on the clipboard
// as text and as a URL; "Adresse einfügen …" (Ctrl+V) makes a new entry of a
// link on the clipboard, for the user to confirm as with "Neu ...".
class LinkActions
{
public:
    explicit LinkActions(BookListView &view) : m_view(view) {}

    void CopyAddress();
    void PasteAddress();

private:
    BookListView &m_view;
};
