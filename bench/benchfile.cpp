#include "benchfile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include <limits>

void writeBenchStore(const QString &file, int rows)
{
    QFile::remove(file);
    QDir().mkpath(QFileInfo(file).path());
    sqlite3 *db = nullptr;
    sqlite3_open(QFile::encodeName(file).constData(), &db);
    sqlite3_exec(db,
                 "CREATE TABLE Serverbook (Bezeichnung TEXT, Servername TEXT, "
                 "Startverzeichnis TEXT, Plugindateiname TEXT); BEGIN",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt *insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO Serverbook VALUES (?, ?, ?, ?)", -1, &insert, nullptr);
    for (int i = 0; i < rows; ++i) {
        // A multiplicative scramble, so row order and label order differ.
        const QByteArray label = QStringLiteral("Server %1 Übung").arg((i * 7919) % rows, 6, 10, QChar('0')).toUtf8();
        const QByteArray server = QStringLiteral("ftp://host%1.example.com/www/").arg(i).toUtf8();
        sqlite3_bind_text(insert, 1, label.constData(), int(label.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 2, server.constData(), int(server.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 3, "/www/", -1, SQLITE_STATIC);
        sqlite3_bind_text(insert, 4, "FtpWorker.so", -1, SQLITE_STATIC);
        sqlite3_step(insert);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

int rawLabelScan(const QString &file)
{
    sqlite3 *db = nullptr;
    sqlite3_open_v2(QFile::encodeName(file).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt *scan = nullptr;
    sqlite3_prepare_v2(db, "SELECT rowid, Bezeichnung FROM Serverbook ORDER BY rowid", -1, &scan, nullptr);
    int count = 0;
    qint64 sum = 0;
    while (sqlite3_step(scan) == SQLITE_ROW) {
        sum += sqlite3_column_int64(scan, 0);
        sum += sqlite3_column_bytes(scan, 1) + (sqlite3_column_text(scan, 1) ? 1 : 0);
        ++count;
    }
    sqlite3_finalize(scan);
    sqlite3_close(db);
    return sum >= 0 ? count : -1;
}

double bestOfMs(int repeats, const std::function<void()> &fn)
{
    double best = std::numeric_limits<double>::max();
    for (int i = 0; i < repeats; ++i) {
        QElapsedTimer timer;
        timer.start();
        fn();
        best = std::min(best, timer.nsecsElapsed() / 1e6);
    }
    return best;
}
