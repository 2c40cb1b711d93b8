#include "benchfile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <sqlite3.h>

#include <algorithm>

void writeBenchStore(const QString &file, int rows, LabelStyle style)
{
    static const char *const words[] = {
        "Verein", "verein", "Bäckerei", "bäckerei", "Müller", "MÜLLER", "Schmidt", "Übung", "übungen",
        "Ärzte", "Straße", "STRASSE", "Firma", "firmen", "Kunde", "Öko", "oeko", "Zahnarzt", "www",
        "FTP", "Server", "Archiv", "Vorschau", "Gemeinde", "Schule", "Kirche", "Sport", "Café", "Blog"};
    static const char *const vocabulary[] = {"Kunden", "Kundenserver", "Server", "Webseite", "Verein",
                                             "Vereinsseite", "Projekt", "Schule", "Gemeinde", "Shop"};
    constexpr int wordCount = int(sizeof words / sizeof *words);
    constexpr int vocabularySize = int(sizeof vocabulary / sizeof *vocabulary);
    QRandomGenerator random{quint32(rows)};
    std::vector<QByteArray> labels;
    labels.reserve(size_t(rows));
    for (int i = 0; i < rows; ++i) {
        // About one label in twenty repeats an earlier one.
        if (i > 0 && random.bounded(20) == 0) {
            labels.push_back(labels[size_t(random.bounded(i))]);
            continue;
        }
        QByteArray label;
        if (style == LabelStyle::Mixed) {
            label = QByteArray(words[random.bounded(wordCount)]) + ' ' + words[random.bounded(wordCount)];
        } else {
            label = vocabulary[random.bounded(vocabularySize)];
            for (int more = random.bounded(3); more > 0; --more)
                label += QByteArray(" ") + vocabulary[random.bounded(vocabularySize)];
        }
        label += ' ' + QByteArray::number(random.bounded(100000));
        labels.push_back(label);
    }

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
        const QByteArray server = "ftp://host" + QByteArray::number(i) + ".example.com/www/";
        const QByteArray &label = labels[size_t(i)];
        sqlite3_bind_text(insert, 1, label.constData(), int(label.size()), SQLITE_STATIC);
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
    sqlite3_open_v2(QFile::encodeName(file).constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    // The same small page cache the store sets: a sequential scan gains
    // nothing from a larger one, and managing it is work the store does not do.
    sqlite3_exec(db, "PRAGMA cache_size = -256", nullptr, nullptr, nullptr);
    sqlite3_stmt *scan = nullptr;
    sqlite3_prepare_v2(db, "SELECT rowid, Bezeichnung FROM Serverbook ORDER BY rowid", -1, &scan, nullptr);
    int count = 0;
    qint64 sum = 0;
    while (sqlite3_step(scan) == SQLITE_ROW) {
        // Touch what the listing uses, so the compiler keeps the reads.
        sum += sqlite3_column_int64(scan, 0);
        sum += sqlite3_column_bytes(scan, 1) + (sqlite3_column_text(scan, 1) ? 1 : 0);
        ++count;
    }
    sqlite3_finalize(scan);
    sqlite3_close(db);
    return sum >= 0 ? count : -1;
}

double timeMs(const std::function<void()> &fn)
{
    QElapsedTimer timer;
    timer.start();
    fn();
    return double(timer.nsecsElapsed()) / 1e6;
}

Spread spreadOf(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    const double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    return {median, values.front(), values.back()};
}

double peakRssMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return -1;
}
