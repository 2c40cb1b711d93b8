#pragma once

class BookListView;
struct ImportPlan;

// Other clients' site lists: "Importieren …" adds the sites of FileZilla,
// WinSCP and Cyberduck files in one step and says what it skipped;
// "Exportieren …" writes the book for FileZilla, as JSON or as CSV and says
// what it could not write faithfully. Passwords of an imported list go
// into the desktop's keyring if the user wants, never into the book.
class ExchangeActions
{
public:
    explicit ExchangeActions(BookListView &view) : m_view(view) {}

    void Import();
    void Export();

private:
    void offerPasswords(const ImportPlan &plan);

    BookListView &m_view;
};
