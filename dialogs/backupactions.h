#pragma once

class BookListView;

// "Sicherung wiederherstellen …": puts the book back to a backup the user
// picks, after asking. The state it replaces is backed up first, so a
// restore can itself be undone.
class BackupActions
{
public:
    explicit BackupActions(BookListView &view) : m_view(view) {}

    void Restore();

private:
    BookListView &m_view;
};
