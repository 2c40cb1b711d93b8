// The search dialog on a large book: what each keystroke costs the user.
// For every prefix of a few searches typed key by key (common, rare, an
// umlaut, a match in the addresses only) it times, on the GUI thread, the
// text change up to the matches shown and painted: the search of the whole
// book, the reading of the shown matches from the book, the list filled and
// the dialog repainted. The floor is one pass of memchr over the index's
// text for a byte it does not hold: reading every entry's folded texts once
// at memory speed, which no search of the whole book can beat.
// Also reports the reading of the book for the search (in its own thread
// in the dialog; here on its own) and the peak memory.
// Usage: bench_search [ENTRIES=1000000] [ROUNDS=7]. Left out: the window
// system (offscreen platform), the first paint of the dialog.

#include "benchfile.h"
#include "centrysearch.h"
#include "csearchdialog.h"
#include "cserverbookstore.h"

#include <QApplication>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTreeWidget>

#include <cstring>

namespace {

// One pass over text at memory speed: memchr for a byte no folded text
// holds (the folding drops control characters).
bool memoryPass(QByteArrayView text)
{
    return memchr(text.constData(), '\x01', size_t(text.size())) != nullptr;
}

} // namespace

int main(int argc, char *argv[])
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int entries = app.arguments().value(1, QStringLiteral("1000000")).toInt();
    const int rounds = app.arguments().value(2, QStringLiteral("7")).toInt();
    QTextStream out(stdout);

    QTemporaryDir dir;
    const QString file = dir.filePath("kelvo.mdb");
    writeBenchStore(file, entries);
    CServerBookStore store;
    store.Open(file);

    std::vector<double> reads;
    for (int round = 0; round < 3; ++round)
        reads.push_back(timeMs([&store] { CEntrySearch::Read(store); }));
    const Spread read = spreadOf(reads);
    out << entries << " entries; reading the book for the search: median " << read.median << " ms (" << read.min
        << "–" << read.max << ")\n";
    const CEntrySearch index = CEntrySearch::Read(store);
    const QByteArrayView folded = index.FoldedText();

    CSearchDialog dialog(store, QString(), nullptr);
    dialog.show();
    auto *edit = dialog.findChild<QLineEdit *>("searchText");
    auto *matches = dialog.findChild<QTreeWidget *>("matches");
    // The index comes from the dialog's own thread.
    while (!dialog.Index())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);

    int found = 0;
    out << "search            keystroke ms: median (min–max)   floor ms   ratio   shown\n";
    for (const QString &typed : {QStringLiteral("muller"), QStringLiteral("host4242"), QStringLiteral("zzqx"),
                                 QStringLiteral("größe"), QStringLiteral("example.com")}) {
        std::vector<double> keystrokes, floors;
        for (int round = 0; round < rounds; ++round) {
            edit->clear();
            QApplication::processEvents();
            // Key by key, as typed; each keystroke and its floor interleaved.
            for (qsizetype length = 1; length <= typed.size(); ++length) {
                const QString text = typed.left(length);
                keystrokes.push_back(timeMs([&] {
                    edit->setText(text);
                    dialog.repaint();
                }));
                floors.push_back(timeMs([&] { found += memoryPass(folded); }));
            }
        }
        const Spread keystroke = spreadOf(keystrokes), floor = spreadOf(floors);
        out << qSetFieldWidth(18) << Qt::left << typed << qSetFieldWidth(0) << keystroke.median << " (" << keystroke.min
            << "–" << keystroke.max << ")   " << floor.median << "   " << keystroke.median / floor.median << "   "
            << matches->topLevelItemCount() << '\n';
    }
    // The floor's outcome is used, so that no pass is optimised away.
    out << "index text: " << folded.size() / (1024 * 1024) << " MiB; peak memory: " << peakRssMb() << " MB"
        << (found ? " (the floor found a byte it should not)" : "") << Qt::endl;
    return 0;
}
