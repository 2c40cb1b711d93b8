// The dialog open on a shared book while another program changes it: the
// sqlite3 shell, in processes of its own, commits 5 changes a second (adding
// and deleting entries of its own), and the user meanwhile moves through the
// list with the arrow keys and at the end presses OK. Reports
//   commits    changes the other program committed
//   relists    times the dialog listed the book afresh
//   taken in   changes the dialog took into the list line by line
//   messages   message boxes the user saw (want: none; no entry they act on
//              is touched)
//   latency    from a commit's end to the list change that shows it
//   stall      the longest the event loop was blocked, by a 1 ms heartbeat,
//              once the dialog is shown: what taking in a change costs the
//              user's typing (budget: 16 ms, a frame)
//   keys       with --pages: the user holds PageDown (and PageUp at the
//              end), a key every 20 ms; how long each key took to handle
// Usage: bench_live [ENTRIES=100000] [SECONDS=60] [--pages]. Left out: the
// first listing, and the shell's own start-up (it runs outside this process).

#include "benchfile.h"
#include "cplugindll.h"
#include "cpluginhost.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QListView>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <algorithm>

int main(int argc, char *argv[])
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int entries = args.value(1, QStringLiteral("100000")).toInt();
    const int seconds = args.value(2, QStringLiteral("60")).toInt();
    const bool pages = args.contains(QStringLiteral("--pages"));
    std::vector<double> keyTimes;
    bool down = true;
    QTextStream out(stdout);

    QTemporaryDir dir;
    for (const char *module : {"Kelvo.so", "FtpWorker.so"})
        QFile::copy(QStringLiteral(KELVO_PLUGIN_DIR "/") + module, dir.filePath(module));
    QDir().mkpath(dir.filePath("DATA"));
    const QString book = dir.filePath("DATA/kelvo.mdb");
    writeBenchStore(book, entries);
    auto host = CPluginHost::Open(dir.path(), nullptr);
    const CServerbookExtPluginDLL *module = nullptr;
    for (int i = 0; host && i < host->Plugins()->GetPluginCount(); ++i) {
        if (auto *found = dynamic_cast<const CServerbookExtPluginDLL *>(host->Plugins()->GetPluginAt(i)))
            module = found;
    }
    if (!module) {
        out << "no module in " << dir.path() << Qt::endl;
        return 1;
    }

    QElapsedTimer clock;
    clock.start();
    int commits = 0, relists = 0, takenIn = 0, messages = 0;
    qint64 lastCommit = -1, lastShown = -1;
    bool shown = false;
    std::vector<double> latencies;
    qint64 lastBeat = 0, longestStall = 0;
    std::vector<double> stalls;

    QTimer heartbeat;
    heartbeat.setInterval(1);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (shown && lastBeat) {
            if (now - lastBeat > 10'000'000)
                stalls.push_back(double(now - lastBeat) / 1e6);
            longestStall = std::max(longestStall, now - lastBeat);
        }
        lastBeat = now;
    });

    QTimer writer;
    writer.setInterval(200);
    int written = 0;
    QObject::connect(&writer, &QTimer::timeout, [&] {
        auto *shell = new QProcess(&app);
        const int n = written++;
        const QString sql = n % 2 == 0
                                ? QStringLiteral("INSERT INTO Serverbook VALUES ('~fremd %1', 'ftp://fremd/', '/', '')").arg(n)
                                : QStringLiteral("DELETE FROM Serverbook WHERE Bezeichnung = '~fremd %1'").arg(n - 1);
        QObject::connect(shell, &QProcess::finished, [&, shell](int code) {
            if (code == 0) {
                ++commits;
                lastCommit = clock.nsecsElapsed();
            }
            shell->deleteLater();
        });
        shell->start(QStringLiteral("sqlite3"), {book, sql});
    });

    QTimer user;
    user.setInterval(pages ? 20 : 300);
    int step = 0;
    QObject::connect(&user, &QTimer::timeout, [&] {
        QWidget *top = QApplication::activeModalWidget();
        if (auto *box = qobject_cast<QMessageBox *>(top)) {
            ++messages;
            box->accept();
            return;
        }
        auto *list = top ? top->findChild<QListView *>(QStringLiteral("3000")) : nullptr;
        if (!list)
            return;
        if (clock.elapsed() > qint64(seconds) * 1000) {
            if (auto *ok = top->findChild<QAbstractButton *>(QStringLiteral("1")))
                ok->click();
            return;
        }
        if (!shown) {
            shown = true;
            // Each commit's latency once, at the first change of the list after it.
            const auto showsChange = [&] {
                if (lastCommit > lastShown) {
                    latencies.push_back(double(clock.nsecsElapsed() - lastCommit) / 1e6);
                    lastShown = clock.nsecsElapsed();
                }
            };
            QObject::connect(list->model(), &QAbstractItemModel::modelReset, [&, showsChange] {
                ++relists;
                showsChange();
            });
            for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved}) {
                QObject::connect(list->model(), signal, [&, showsChange] {
                    ++takenIn;
                    showsChange();
                });
            }
        }
        list->setFocus();
        if (pages) {
            // Page by page to the end and back, as a held key repeats.
            const int current = list->currentIndex().row();
            if (current >= list->model()->rowCount() - 1)
                down = false;
            else if (current <= 0)
                down = true;
            QKeyEvent press(QEvent::KeyPress, down ? Qt::Key_PageDown : Qt::Key_PageUp, Qt::NoModifier);
            const qint64 before = clock.nsecsElapsed();
            QApplication::sendEvent(list, &press);
            keyTimes.push_back(double(clock.nsecsElapsed() - before) / 1e6);
            return;
        }
        // Down through the entries the other program never touches (theirs
        // sort last, after "~"), and back up now and then.
        QKeyEvent press(QEvent::KeyPress, ++step % 10 == 0 ? Qt::Key_Up : Qt::Key_Down, Qt::NoModifier);
        QApplication::sendEvent(list, &press);
    });

    heartbeat.start();
    writer.start();
    user.start();
    module->ShowServerBook(0);
    writer.stop();
    SERVERBOOKENTRYSTRUC entry;
    const int result = module->GetLastServerBookEntry(&entry);

    const Spread latency = spreadOf(latencies.empty() ? std::vector<double>{0} : latencies);
    const Spread stall = spreadOf(stalls.empty() ? std::vector<double>{0} : stalls);
    out << "platform " << QGuiApplication::platformName() << "; " << entries << " entries, " << seconds << " s\n"
        << "commits\t" << commits << "\nrelists\t" << relists << "\ntaken in\t" << takenIn << "\nmessages\t" << messages << "\n"
        << "latency ms\tmedian " << latency.median << " [" << latency.min << "-" << latency.max << "]\n"
        << "stalls over 10 ms\t" << stalls.size() << ", median " << stall.median << " ms, longest "
        << double(longestStall) / 1e6 << " ms\n"
        << (pages ? QStringLiteral("keys ms\t%1 keys, median %2, longest %3\n")
                        .arg(keyTimes.size())
                        .arg(spreadOf(keyTimes.empty() ? std::vector<double>{0} : keyTimes).median)
                        .arg(spreadOf(keyTimes.empty() ? std::vector<double>{0} : keyTimes).max)
                  : QString())
        << "result\t" << result << "\t" << entry.strServer << Qt::endl;
    return messages == 0 && result == 1 ? 0 : 1;
}
