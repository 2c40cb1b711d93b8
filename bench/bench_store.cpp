// The store's listing against a raw SQLite scan of the same file, and the cost
// of reaching a row by ordinal at the start and at the end of the table.

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

    for (const int rows : {10'000, 100'000}) {
        const QString file = CServerBookStore::FileIn(dir.path());
        writeBenchStore(file, rows);

        const double raw = bestOfMs(7, [&] { rawLabelScan(file); });
        CServerBookStore store;
        store.Open(file);
        const double listAll = bestOfMs(7, [&] { store.ListAll(); });
        const double first = bestOfMs(7, [&] { store.PositionAt(0); store.GetFieldText("Servername"); });
        const double last = bestOfMs(7, [&] { store.PositionAt(rows - 1); store.GetFieldText("Servername"); });
        const double deleteLast = bestOfMs(1, [&] { store.PositionAt(rows - 1); store.DeleteCurrent(); });

        out << rows << " rows: raw scan " << raw << " ms, ListAll " << listAll << " ms ("
            << listAll / raw << "x raw); PositionAt first " << first << " ms, last " << last
            << " ms; delete last " << deleteLast << " ms\n";
    }
    return 0;
}
