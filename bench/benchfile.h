#pragma once

#include <QString>

#include <functional>
#include <vector>

// How the labels of a generated book look.
enum class LabelStyle {
    // Two words in mixed case with umlauts and ß, and a number.
    Mixed,
    // One to three words of a small vocabulary and a number, as site names
    // often are: long shared beginnings, which a sort finds hardest.
    SharedPrefixes,
};

// Writes a store file of n rows straight through SQLite, with labels as
// people write them, some duplicates, in an order unrelated to their sorted
// order. The same n and style give the same file.
void writeBenchStore(const QString &file, int rows, LabelStyle style = LabelStyle::Mixed);

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
