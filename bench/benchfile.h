#pragma once

#include <QString>

#include <functional>
#include <vector>

// Writes a store file of n rows straight through SQLite, with labels as
// people write them: mixed case, umlauts and ß, digits, some duplicates, in
// an order unrelated to their sorted order. The same n gives the same file.
void writeBenchStore(const QString &file, int rows);

// Opens the file on a fresh connection and scans every rowid and label with
// the raw SQLite C API, with the store's page cache size: the floor the
// listing is measured against. Returns how many labels it read.
int rawLabelScan(const QString &file);

// Wall time of fn in milliseconds.
double timeMs(const std::function<void()> &fn);

// Median, minimum and maximum of a series.
struct Spread {
    double median, min, max;
};
Spread spreadOf(std::vector<double> values);

// Peak resident memory of this process so far, in MB.
double peakRssMb();
