#pragma once

#include "cserverbookstore.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <future>

class BookListView;

// Keeps the selection dialog's list in step with what other programs do to
// the book while it is open. Twice a second, while the dialog is idle, it
// asks whether another program committed (SQLite's data_version) or put
// another file at the book's path (a sync tool's rename). A commit is read
// on a thread of its own and taken into the list line by line: new and
// changed labels go in at their sorted places, gone ones go out, so the
// event loop never waits for a large book to be read or sorted again. A
// replaced file is opened afresh; a book that is gone for good is reported
// once, and followed again when it comes back.
//
// Either way the selected entry stays selected while it holds what it held,
// found again by rowid and content, and the list keeps its place; when it
// went, the line at its place is selected and the dialog is told.
class OutsideChanges : public QObject
{
public:
    explicit OutsideChanges(BookListView &view);
    // Waits for a read under way: it uses the book's file.
    ~OutsideChanges() override;

    void Start();
    // Opens the book afresh now, when another file took its place.
    void ReopenIfReplaced();
    // Runs relist, which lists the book afresh into the list, and selects
    // the selected entry again.
    void RelistKeepingSelection(const std::function<void()> &relist);

private:
    void check();
    void reopen();
    void reportGone(const StoreError &error);
    void taken(std::future<CServerBookStore::FreshListing> reading);
    bool merge(CServerBookStore::FreshListing &fresh);
    int lineHolding(const RowSnapshot &shown, const QString &label);

    BookListView &m_view;
    QTimer m_timer;
    QString m_file;
    std::future<CServerBookStore::FreshListing> m_reading;
    bool m_goneReported = false;
};
