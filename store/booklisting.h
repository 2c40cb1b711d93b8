#pragma once

#include "sqlite.h"

#include <QByteArray>
#include <QString>

#include <vector>

// Which rows the book had when it was last listed: their rowids in rowid
// order, so that a row's ordinal (its 0-based place in that order) leads to
// the same row for as long as the listing lasts, and the data_version the
// listing was read at, so that another program's later commit shows.
//
// The book's own changes are taken in (a row appended at the end, a deleted
// one left out, the ordinals after it one less); one it cannot take in
// retires the listing, and nothing is found by ordinal until the book is
// listed again.
class BookListing
{
public:
    // Reads every row's rowid, then the given further columns, in rowid order
    // and calls perRow(statement) for each row; a scan the engine cuts short
    // is an error, not a shorter listing. data_version is read before the
    // scan, so that a commit racing it marks the listing stale.
    template<typename PerRow>
    static BookListing Read(const SqliteConnection &connection, const char *columns, qint64 roomForRows, PerRow &&perRow)
    {
        BookListing listing;
        listing.m_version = connection.DataVersion();
        QByteArray sql = "SELECT rowid";
        if (*columns)
            sql += QByteArray(", ") + columns;
        sql += " FROM Serverbook ORDER BY rowid";
        SqliteStatement statement = connection.Prepare(sql);
        listing.m_rowids.reserve(size_t(roomForRows));
        while (statement.Step()) {
            listing.m_rowids.push_back(statement.Int64(0));
            perRow(statement);
        }
        listing.m_current = true;
        return listing;
    }

    // The listing of a read made elsewhere, as of version.
    BookListing WithVersion(qint64 version) &&
    {
        m_version = version;
        return std::move(*this);
    }

    // Every row's label, back to back in one string: label i (of ordinal i)
    // ends at ends[i].
    struct Labels {
        QString text;
        std::vector<quint32> ends;
    };
    // Lists the labels of the book behind connection, a file of fileBytes.
    static BookListing ReadLabels(const SqliteConnection &connection, qint64 fileBytes, Labels *labels);
    // Room for every row a listing of a file of fileBytes can meet, reserved
    // at once instead of regrowing step by step.
    static qint64 RoomForRows(qint64 fileBytes);

    // Whether it lists the book at all; false when retired or never read.
    bool IsCurrent() const { return m_current; }
    // Whether no other program committed since it was read.
    bool Covers(qint64 dataVersion) const { return m_current && dataVersion == m_version; }
    void Retire() { m_current = false; }

    qsizetype Count() const { return qsizetype(m_rowids.size()); }
    qint64 RowIdAt(qsizetype ordinal) const { return m_rowids[size_t(ordinal)]; }
    // -1 when the listing has no such row.
    int OrdinalOf(qint64 rowid) const;
    const std::vector<qint64> &RowIds() const { return m_rowids; }

    // A row the book itself appended: taken in when it comes last.
    void TakeInAppended(qint64 rowid);
    // A row the book itself deleted.
    void TakeInDeleted(qint64 rowid);

private:
    std::vector<qint64> m_rowids;
    qint64 m_version = 0;
    bool m_current = false;
};
