#include "booklisting.h"

#include <QStringDecoder>

#include <algorithm>

qint64 BookListing::RoomForRows(qint64 fileBytes)
{
    // A row takes nine bytes of the file at the least, so eight per row is
    // room enough; past eight million rows the listing grows as needed.
    constexpr qint64 kLeastRowBytes = 8;
    constexpr qint64 kMostRowsAhead = 8 * 1024 * 1024;
    return std::min(fileBytes / kLeastRowBytes, kMostRowsAhead);
}


int BookListing::OrdinalOf(qint64 rowid) const
{
    const auto found = std::lower_bound(m_rowids.cbegin(), m_rowids.cend(), rowid);
    return found != m_rowids.cend() && *found == rowid ? int(found - m_rowids.cbegin()) : -1;
}

void BookListing::TakeInAppended(qint64 rowid)
{
    // A new row normally comes last in rowid order; one that does not (a
    // rowid reused after the largest went) would put every ordinal after it
    // off by one.
    if (m_current && (m_rowids.empty() || rowid > m_rowids.back()))
        m_rowids.push_back(rowid);
    else
        m_current = false;
}

void BookListing::TakeInDeleted(qint64 rowid)
{
    const auto listed = std::lower_bound(m_rowids.begin(), m_rowids.end(), rowid);
    if (listed != m_rowids.end() && *listed == rowid)
        m_rowids.erase(listed);
}

// Lists the labels of the book behind connection, a file of fileBytes:
// one statement, every label decoded straight into one string, no object
// per row. UTF-8 never gives more UTF-16 units than it has bytes, and the
// labels have fewer bytes than the file, so room for the file's size (up to
// a book of a million labels; further columns can make a file large) is
// reserved at once instead of regrowing step by step.
BookListing BookListing::ReadLabels(const SqliteConnection &connection, qint64 fileBytes, Labels *labels)
{
    constexpr qint64 kMostRoomAhead = 32 * 1024 * 1024;  // UTF-16 units
    labels->text.reserve(qsizetype(std::min(fileBytes, kMostRoomAhead)));
    labels->ends.reserve(size_t(RoomForRows(fileBytes)));
    // Stateless: each label decodes on its own, exactly as QString::fromUtf8
    // decodes a field, so that a label compares equal to its row's field.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    return Read(connection, "Bezeichnung", RoomForRows(fileBytes), [&](const SqliteStatement &statement) {
        const QByteArrayView bytes = statement.Bytes(1);
        QString &text = labels->text;
        const qsizetype used = text.size();
        text.resize(used + bytes.size());
        const QChar *end = utf8.appendToBuffer(text.data() + used, bytes);
        text.truncate(end - text.constData());
        labels->ends.push_back(quint32(text.size()));
    });
}

