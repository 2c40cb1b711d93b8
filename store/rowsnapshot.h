#pragma once

#include <QByteArray>

#include <array>

struct sqlite3_stmt;
class SqliteStatement;

// A field's value exactly as stored: its SQLite type and its content, so
// that a guard compares what is stored, whatever another program stored
// there (Windows-1252 bytes, a BLOB, a number) and however it reads as text.
struct StoredValue {
    int type = 5;  // SQLITE_NULL
    QByteArray bytes;
    qint64 integer = 0;
    double real = 0;

    // The value in column of statement's current row.
    static StoredValue Read(sqlite3_stmt *statement, int column);
    // Binds the value to parameter index of statement.
    void Bind(sqlite3_stmt *statement, int index) const;
    bool operator==(const StoredValue &) const = default;
};

// A row as it was read: its rowid and its four fields (label, server, start
// directory, plug-in file) as stored. A change guarded by it reaches the row
// only while the row still holds exactly that: a row deleted, changed, or
// whose rowid another program reused or renumbered fails the guard.
struct RowSnapshot {
    qint64 rowid = -1;
    std::array<StoredValue, 4> fields;

    bool valid() const { return rowid >= 0; }
    // The condition that holds for this row only while it is unchanged, with
    // its five parameters from first on: rowid, then the four fields.
    static const char *Guard();
    void BindGuard(SqliteStatement &statement, int first) const;
};
