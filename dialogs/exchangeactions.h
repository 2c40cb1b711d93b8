#pragma once

class BookListView;

// Other clients' site lists: "Importieren …" adds the sites of FileZilla,
// WinSCP and Cyberduck files in one step and says what it skipped;
// "Exportieren …" writes the book for FileZilla, as JSON or as CSV and says
// what it could not write faithfully.
class ExchangeActions
{
public:
    explicit ExchangeActions(BookListView &view) : m_view(view) {}

    void Import();
    void Export();

private:
    BookListView &m_view;
};
