// The store's part of every ShowServerBook call, Open and the listing on a fresh
// connection, against the floor: a raw SQLite scan of rowid and label on a
// fresh connection to the same file. Both run in the same process, in
// interleaved pairs, on a file the page cache already holds (the first pair
// warms it and is not counted); what is compared is CPU work over cached
// pages. Left out: the first read of a file from disk, which both would pay.

#include "benchfile.h"
#include "cserverbookstore.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTemporaryDir dir;
    constexpr int kPairs = 9;
    out << "rows\traw ms (median)\tstore ms (median)\tratio median [min-max] of " << kPairs << " pairs\n";
    for (const int rows : {10'000, 100'000, 1'000'000}) {
        const QString file = CServerBookStore::FileIn(dir.path());
        writeBenchStore(file, rows);
        auto listing = [&file] {
            CServerBookStore store;
            store.Open(file);
            return store.ListLabels().ends.size();
        };
        rawLabelScan(file);
        listing();
        std::vector<double> raw, store, ratio;
        for (int pair = 0; pair < kPairs; ++pair) {
            raw.push_back(timeMs([&] { rawLabelScan(file); }));
            store.push_back(timeMs([&] { listing(); }));
            ratio.push_back(store.back() / raw.back());
        }
        const Spread r = spreadOf(ratio);
        out << rows << '\t' << spreadOf(raw).median << '\t' << spreadOf(store).median << '\t' << r.median << "x ["
            << r.min << '-' << r.max << "]" << Qt::endl;
    }
    return 0;
}
