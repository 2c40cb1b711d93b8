#pragma once

#include "backupsession.h"
#include "bookfile.h"
#include "booklisting.h"
#include "rowsnapshot.h"
#include "storeerror.h"

#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <optional>
#include <vector>

// The server book: the table "Serverbook" of an SQLite file, read and changed
// through a cursor over its rows in rowid order.
//
// A row is addressed by its ordinal, its 0-based position in that order as of
// the last listing (ListAll, or the first move), which maps it to the rowid
// it had then. Other programs may change the book at any time; a row is
// therefore known by its content: a change reaches a row only while the row
// still holds the four fields as they were read (RowSnapshot), in one
// statement inside the write transaction, so a row deleted, changed, or whose
// rowid was reused or renumbered (VACUUM) is never changed in its place. The
// store's own changes keep the listing: a row it deleted is simply gone. A
// change of its own that the listing cannot take in (an import, a restore)
// retires the listing: positioning then finds no row until it is listed
// again.
//
// A book that may only be read (a read-only file, folder or file system) is
// opened for reading; every change is then refused with the reason. When the
// file at the path is replaced (a sync tool renaming another over it), no
// change goes into the old one: it is refused, and CheckOutside says so.
//
// Before its first change after Open, the store copies the book to a backup
// (BackupSession); when that fails, neither that change nor any later one of
// the same opening is made.
//
// The store is the face of its parts: the file (BookFile), the listing
// (BookListing), the transaction (WriteTransaction) and the backups; what
// it adds is the cursor over the listed rows. Every engine failure throws
// StoreError.
class CServerBookStore
{
public:
    // The most characters a text of an entry may have; the dialogs and the
    // tool refuse longer ones.
    static constexpr int kMaxTextChars = 128;

    struct ListedEntry {
        QString label;
        int ordinal;
    };

    CServerBookStore() = default;
    ~CServerBookStore();
    CServerBookStore(const CServerBookStore &) = delete;
    CServerBookStore &operator=(const CServerBookStore &) = delete;

    // Where the store lives in a plug-in directory.
    static QString FileIn(const QString &pluginDir);
    // Where the sorted order of the store's listing is kept between listings:
    // beside it, "kelvo.order" for "kelvo.mdb". Only a cache; never the book.
    static QString ListingOrderFile(const QString &file);
    // Creates an empty store file, with its folder when missing. Refuses to
    // touch an existing file; leaves nothing behind when it fails.
    static void Create(const QString &file) { BookFile::Create(file); }

    // Opens an existing store shared, for reading and writing. Never creates a
    // file; a file without the table or one of its four fields, or whose table
    // the listing cannot read (a view, a table without rowids), is an error.
    void Open(const QString &file);
    // Closes the cursor and the database and drops the connection.
    void Close();
    bool IsOpen() const { return m_book.IsOpen(); }

    bool IsBOF();
    bool IsEOF();
    void MoveFirst();
    void MoveNext();
    void Move(int rows);
    // The named field of the current row; a field without a value reads empty.
    QString GetFieldText(const QString &field);
    // Stores a new row with the four texts, all or nothing; returns its rowid.
    qint64 Append(const QString &label, const QString &server, const QString &startDir,
                  const QString &pluginFile);
    // The four texts of a row: label, server, start directory, plug-in file.
    // A null text is stored as NULL.
    using Row = std::array<QString, 4>;
    // Stores rows in one transaction: all of them or, on a failure, none.
    void AppendAll(const std::vector<Row> &rows);
    // Stores the rows choose returns, in one transaction with everything
    // choose reads of the book: no other program can change the book between
    // the reading and the storing (an import's check for duplicates). The
    // listing is read afresh afterwards.
    void AppendChosen(const std::function<std::vector<Row>()> &choose);
    // The current row as read last (read now if it was not); invalid
    // without one.
    RowSnapshot CurrentRow();
    // Whether the row still holds exactly what it held when it was read.
    bool RowUnchanged(const RowSnapshot &row);
    // Deletes the row if it still holds exactly what it held when it was
    // read, in one statement with that check. False when nothing was deleted.
    // The listing then leaves the row out: the ordinals after it move down.
    bool DeleteRow(const RowSnapshot &row);
    // Sets the row's four fields, on the same terms as DeleteRow.
    bool UpdateRow(const RowSnapshot &row, const QString &label, const QString &server, const QString &startDir,
                   const QString &pluginFile);
    // The same for the current row, as it was read last.
    // Changes only the row's address, guarded as UpdateRow is.
    bool UpdateServer(const RowSnapshot &row, const QString &server);
    // Gives every row's address to change and stores what it returns, in one
    // change (one backup first); the number of rows changed.
    int ChangeServers(const std::function<std::optional<QString>(const QString &server)> &change);
    bool DeleteCurrent();
    bool UpdateCurrent(const QString &label, const QString &server, const QString &startDir,
                       const QString &pluginFile);

    // Why the book can only be read; empty when it can be changed.
    QString ReadOnlyReason() const { return m_book.ReadOnlyReason(); }
    // Whether the path now leads to another file than the one opened.
    bool FileReplaced() const { return m_book.Replaced(); }
    enum class OutsideChange { None, Committed, Replaced };
    // What other programs did since the last listing: committed a change to
    // the file, or put another file at its path.
    OutsideChange CheckOutside();
    // The current row's rowid, -1 without one; and the ordinal the listing
    // gives a rowid, -1 when it has none. A row the store itself added or
    // changed is found again after the next listing this way.
    qint64 CurrentRowId();
    int OrdinalOf(qint64 rowid);
    // Replaces every row by the rows of a backup of this book, in one
    // transaction, with their rowids and the further columns the backup has.
    // Checks the backup whole first; backs up the state it replaces, and
    // keeps both.
    void RestoreFrom(const QString &backupFile);
    QString File() const { return m_book.File(); }
    // The name of the backup this opening made, empty before its first change.
    QString BackupMade() const { return m_backups ? m_backups->Made() : QString(); }

    // Makes the row of ordinal current. False when there is no such row
    // (an empty table, an ordinal past the end, a row gone or a table changed
    // by another program since the listing).
    bool PositionAt(int ordinal);
    // Whether another program committed a change since the last listing.
    bool ChangedSinceListing();
    // Every row's label with its ordinal, in cursor order; leaves the cursor
    // after the last row.
    std::vector<ListedEntry> ListAll();
    // The same listing in one string: the labels back to back, label i (of
    // ordinal i) ending at ends[i]. What a large book is listed with.
    using Labels = BookListing::Labels;
    Labels ListLabels();

    // The book as another program left it, read without disturbing this
    // store: on a thread of its own, through a connection of its own, while
    // the store goes on serving the dialog. Begin on the store's thread,
    // Read on any, and Adopt on the store's thread again, which makes it
    // the store's listing unless the store itself changed or listed the
    // book meanwhile (false: read again).
    class FreshListing
    {
    public:
        void Read();
        const std::vector<qint64> &RowIds() const { return m_listing.RowIds(); }
        const Labels &LabelsRead() const { return m_labels; }

    private:
        friend class CServerBookStore;
        SqliteConnection m_connection;
        qint64 m_roomForRows = 0;
        qint64 m_version = 0;
        quint64 m_generation = 0;
        BookListing m_listing;
        Labels m_labels;
    };
    FreshListing BeginFreshListing();
    bool Adopt(FreshListing &&fresh);
    // The rowids the listing holds, in cursor order (ordinal i is rowid i).
    const std::vector<qint64> &ListedRowIds() const { return m_listing.RowIds(); }
    // A row's four fields as they read now, found by rowid whatever the
    // listing says; none when no row has that rowid.
    struct Entry {
        QString label, server, startDir, pluginFile;
        bool operator==(const Entry &) const = default;
    };
    std::optional<Entry> EntryWithRowId(qint64 rowid);
    // Every row's rowid and four fields as stored (UTF-8, valid or not), in
    // cursor order, through one statement and without holding any: what
    // reads a large book whole (a search, an export). This is a listing, as
    // ListAll is. The views hold only during the call.
    struct StoredEntry {
        qint64 rowid;
        QByteArrayView label, server, startDir, pluginFile;
    };
    void ScanEntries(const std::function<void(const StoredEntry &)> &perRow);
    // The most rows the book's files (the book and its write-ahead log)
    // can hold: a bound for anything kept about a listing beside it.
    qint64 MostRows() const;
    // How many rows the table has now.
    qint64 CountRows();
    // Whether the last listing still covers the table exactly: the store's own
    // changes since were taken into it (a new row at the end, a deleted one
    // left out, ordinals after it one less) and no other program committed.
    bool ListingCurrent();

private:
    struct RowField {
        QString name;
        QString text;
    };

    template<typename PerRow>
    void list(const char *columns, PerRow &&perRow);
    void refusePassword(const QString &server) const;
    qint64 appendRows(const std::vector<Row> &rows);
    bool changeRow(const QString &statement, const QStringList &values, const RowSnapshot &row);
    bool ensureRows();
    bool loadCurrentRow();
    const SqliteConnection &connection() const { return m_book.Connection(); }

    BookFile m_book;
    std::optional<BackupSession> m_backups;
    // Counts the store's own listings and changes: a fresh listing begun
    // before one of them no longer fits the listing it would replace.
    quint64 m_generation = 0;
    BookListing m_listing;
    // Listed once: a retired listing is not silently replaced by a new one.
    bool m_listed = false;
    // EntryWithRowId's statement, prepared once per opening: a search reads
    // hundreds of entries by rowid for each keystroke.
    SqliteStatement m_entryWithRowId;
    // -1 before the first row, the listing's count after the last.
    qsizetype m_pos = 0;
    // The current row's fields, read once per position, and the four of
    // them as stored.
    std::vector<RowField> m_row;
    RowSnapshot m_snapshot;
    bool m_rowLoaded = false;
};
