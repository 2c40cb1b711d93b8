// From the host's ShowServerBook call to the selection dialog painted with
// the first entry's details, against a raw SQLite scan of the same file, for
// growing server books; and the process's peak memory at the largest.

#include "benchfile.h"
#include "cplugindll.h"
#include "cpluginhost.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <QWidget>

namespace {

// Peak resident memory of this process so far, in MB.
double peakMemoryMb()
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

// Time until the dialog is on screen and painted, then cancels it.
double showAndPaintMs(const CServerbookExtPluginDLL *book)
{
    QElapsedTimer timer;
    double painted = -1;
    QTimer poll;
    poll.setInterval(0);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget *dialog = QApplication::activeModalWidget();
        if (!dialog || !dialog->isVisible())
            return;
        poll.stop();
        dialog->grab();  // renders every control, as the first paint does
        painted = timer.nsecsElapsed() / 1e6;
        dialog->close();
    });
    poll.start();
    timer.start();
    book->ShowServerBook(0);
    return painted;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTextStream out(stdout);
    QTemporaryDir dir;
    QFile::copy(QStringLiteral(KELVO_PLUGIN_DIR "/Kelvo.so"), dir.filePath(QStringLiteral("Kelvo.so")));
    const auto host = CPluginHost::Open(dir.path(), nullptr);
    const auto *book = dynamic_cast<const CServerbookExtPluginDLL *>(host->Plugins()->GetPluginAt(0));
    if (!book) {
        out << "Kelvo.so did not load\n";
        return 1;
    }

    QList<double> figures;
    for (const int rows : {100, 10'000, 100'000}) {
        const QString file = dir.filePath(QStringLiteral("DATA/kelvo.mdb"));
        writeBenchStore(file, rows);
        const double raw = bestOfMs(5, [&] { rawLabelScan(file); });
        double best = 1e9;
        for (int i = 0; i < 3; ++i)
            best = std::min(best, showAndPaintMs(book));
        figures << best;
        out << rows << " entries: shown and painted in " << best << " ms; raw scan " << raw << " ms ("
            << best / raw << "x raw)" << Qt::endl;
    }
    out << "100000 vs 10000: " << figures[2] / figures[1] << "x; peak memory " << peakMemoryMb() << " MB"
        << Qt::endl;
    return 0;
}
