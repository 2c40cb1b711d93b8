#include "rowsnapshot.h"

#include "sqlite.h"

#include <sqlite3.h>

StoredValue StoredValue::Read(sqlite3_stmt *statement, int column)
{
    StoredValue value;
    value.type = sqlite3_column_type(statement, column);
    switch (value.type) {
    case SQLITE_INTEGER:
        value.integer = sqlite3_column_int64(statement, column);
        break;
    case SQLITE_FLOAT:
        value.real = sqlite3_column_double(statement, column);
        break;
    case SQLITE_TEXT:
    case SQLITE_BLOB: {
        const auto *data = static_cast<const char *>(value.type == SQLITE_TEXT
                                                         ? static_cast<const void *>(sqlite3_column_text(statement, column))
                                                         : sqlite3_column_blob(statement, column));
        value.bytes = QByteArray(data, sqlite3_column_bytes(statement, column));
        break;
    }
    default:
        break;
    }
    return value;
}

void StoredValue::Bind(sqlite3_stmt *statement, int index) const
{
    switch (type) {
    case SQLITE_INTEGER:
        sqlite3_bind_int64(statement, index, integer);
        break;
    case SQLITE_FLOAT:
        sqlite3_bind_double(statement, index, real);
        break;
    case SQLITE_TEXT:
        sqlite3_bind_text(statement, index, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT);
        break;
    case SQLITE_BLOB:
        sqlite3_bind_blob(statement, index, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT);
        break;
    default:
        sqlite3_bind_null(statement, index);
        break;
    }
}

const char *RowSnapshot::Guard()
{
    // IS compares types too, and NULL with NULL.
    return "rowid = ? AND Bezeichnung IS ? AND Servername IS ? AND Startverzeichnis IS ? AND Plugindateiname IS ?";
}

void RowSnapshot::BindGuard(SqliteStatement &statement, int first) const
{
    statement.Bind(first, rowid);
    for (int i = 0; i < 4; ++i)
        fields[size_t(i)].Bind(statement.Handle(), first + 1 + i);
}
