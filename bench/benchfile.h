#pragma once

#include <QString>

#include <functional>

// Writes a store file with n rows straight through SQLite, labels in an order
// that differs from their sorted order.
void writeBenchStore(const QString &file, int rows);

// Scans every label of the file with the raw SQLite C API: the floor that the
// store's listing is measured against. Returns how many labels it read.
int rawLabelScan(const QString &file);

// Best wall time in milliseconds of repeats runs of fn.
double bestOfMs(int repeats, const std::function<void()> &fn);
