// ShowServerBook as the host sees it, against the floor of a raw SQLite scan
// of rowid and label on a fresh connection to the same file, in the same
// process, in interleaved pairs:
//   paint   from the call to the end of the dialog's first paint, with the
//           first entry's details in it (repeat calls; the page cache is warm
//           for both sides)
//   return  from a click on OK to the call's return
//   new     "Neu ..." + OK to the list painted again (100,000 entries)
//   delete  "Löschen" + Yes to the list painted again (100,000 entries)
//   first   the first call of a fresh process against the first raw scan of
//           another fresh process (separate processes, interleaved)
//   dialog  at 10, 100 and 1,000 entries, the first call of a fresh process
//           against a fresh process that shows a QDialog with the same
//           widgets, reads the labels through QSQLITE, sorts them with
//           QCollator and shows the first entry's details: what any Qt
//           dialog listing the book would cost (to the end of the first
//           paint on both sides, from after QApplication's start)
//   peak    the peak resident memory of a process that showed the book
// Each size runs in its own process, so peaks do not carry over. The platform
// is xcb under a display and offscreen otherwise; the report says which.
// --prefix lists a book whose labels share long beginnings instead of the
// mixed one; --busy keeps the other core busy with a spinning process all
// the while. Left out: reading the file from disk the first time (both
// sides would pay it), and the host's own start-up.
// Usage: [KELVO_BENCH_PAIRS=N] bench_serverbook [--prefix] [--busy] [--module PATH] [ENTRIES...]

#include "benchfile.h"
#include "cplugindll.h"
#include "cpluginhost.h"
#include "cserverbookstore.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCollator>
#include <QDialog>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QProcess>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringListModel>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <numeric>

namespace {

// Pairs per figure: 7, or KELVO_BENCH_PAIRS for a tighter spread or a
// profile long enough to read. Children inherit it.
int pairs()
{
    static const int asked = qEnvironmentVariableIntValue("KELVO_BENCH_PAIRS");
    return asked > 0 ? asked : 7;
}

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

// Runs act once a visible modal widget other than below is on top.
void whenModal(QWidget *below, std::function<void(QWidget *)> act)
{
    auto *timer = new QTimer(qApp);
    timer->setInterval(0);
    QObject::connect(timer, &QTimer::timeout, [timer, below, act] {
        QWidget *top = QApplication::activeModalWidget();
        if (!top || top == below || !top->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        act(top);
    });
    timer->start();
}

// Calls done once widget has finished its next paint.
class PaintWatch : public QObject
{
public:
    PaintWatch(QWidget *widget, std::function<void()> done) : m_done(std::move(done))
    {
        widget->installEventFilter(this);
    }
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !m_seen) {
            m_seen = true;
            watched->removeEventFilter(this);
            // Posted, so it runs once this paint (and the flush) is over.
            QTimer::singleShot(0, this, [this] {
                m_done();
                deleteLater();
            });
        }
        return false;
    }

private:
    std::function<void()> m_done;
    bool m_seen = false;
};

template<typename T = QWidget>
T *child(QWidget *dialog, int id)
{
    return dialog->findChild<T *>(QString::number(id));
}

struct Loaded {
    std::unique_ptr<CPluginHost> host;
    const CServerbookExtPluginDLL *book = nullptr;
};

Loaded load(const QString &pluginDir)
{
    Loaded loaded;
    loaded.host = CPluginHost::Open(pluginDir, nullptr);
    for (int i = 0; loaded.host && i < loaded.host->Plugins()->GetPluginCount(); ++i) {
        if (auto *book = dynamic_cast<const CServerbookExtPluginDLL *>(loaded.host->Plugins()->GetPluginAt(i)))
            loaded.book = book;
    }
    return loaded;
}

// One call: ms to painted, and ms from OK to the call's return. Inside, act
// may work the open dialog first.
std::pair<double, double> showPaintAndConfirm(const CServerbookExtPluginDLL *book,
                                              std::function<void(QWidget *)> act = {})
{
    QElapsedTimer timer;
    double painted = -1;
    QElapsedTimer sinceOk;
    whenModal(nullptr, [&](QWidget *dialog) {
        new PaintWatch(dialog, [&, dialog] {
            painted = double(timer.nsecsElapsed()) / 1e6;
            if (act)
                act(dialog);
            sinceOk.start();
            child<QAbstractButton>(dialog, 1)->click();
        });
        dialog->update();
    });
    timer.start();
    book->ShowServerBook(0);
    return {painted, double(sinceOk.nsecsElapsed()) / 1e6};
}

void report(const char *what, int rows, const std::vector<double> &module, const std::vector<double> &raw)
{
    std::vector<double> ratios;
    for (size_t i = 0; i < module.size(); ++i)
        ratios.push_back(module[i] / raw[i]);
    const Spread ms = spreadOf(module), floor = spreadOf(raw), ratio = spreadOf(ratios);
    out() << what << '\t' << rows << '\t' << ms.median << " ms\t" << floor.median << " ms\t" << ratio.median
          << "x [" << ratio.min << "-" << ratio.max << "]" << Qt::endl;
}

// The Yes button of a question.
QAbstractButton *yesButton(QWidget *question)
{
    for (auto *button : question->findChildren<QAbstractButton *>()) {
        if (button->text().contains(QLatin1String("Yes")) || button->text().contains(QLatin1String("Ja")))
            return button;
    }
    return nullptr;
}

// Clicks open in the book, lets answer fill the dialog it opens and name the
// button that ends it, and returns ms from that button's click to the list
// painted again.
double untilRepainted(QWidget *book, QWidget *list, QAbstractButton *open,
                      const std::function<QAbstractButton *(QWidget *)> &answer)
{
    QElapsedTimer timer;
    whenModal(book, [&](QWidget *dialog) {
        QAbstractButton *end = answer(dialog);
        timer.start();
        end->click();
    });
    double ms = -1;
    new PaintWatch(list, [&] { ms = double(timer.nsecsElapsed()) / 1e6; });
    open->click();
    while (ms < 0)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return ms;
}

// Child: the repeat calls of one size, and at 100,000 the changes.
int runSize(const QString &pluginDir, int rows)
{
    const Loaded loaded = load(pluginDir);
    if (!loaded.book)
        return 1;
    const QString file = pluginDir + QStringLiteral("/DATA/kelvo.mdb");
    showPaintAndConfirm(loaded.book);  // warms both sides; not counted
    std::vector<double> raw, paint, confirm, rawAgain;
    for (int pair = 0; pair < pairs(); ++pair) {
        raw.push_back(timeMs([&] { rawLabelScan(file); }));
        const auto [painted, returned] = showPaintAndConfirm(loaded.book);
        paint.push_back(painted);
        confirm.push_back(returned);
    }
    report("paint", rows, paint, raw);
    report("return", rows, confirm, raw);

    if (rows == 100'000) {
        std::vector<double> added, deleted, floorAdd, floorDelete;
        showPaintAndConfirm(loaded.book, [&](QWidget *book) {
            auto *list = child<QListView>(book, 3000);
            for (int pair = 0; pair < pairs(); ++pair) {
                floorAdd.push_back(timeMs([&] { rawLabelScan(file); }));
                added.push_back(untilRepainted(book, list->viewport(), child<QAbstractButton>(book, 3002),
                                               [pair](QWidget *entry) {
                                                   child<QLineEdit>(entry, 3004)->setText(
                                                       QStringLiteral("Neuer Eintrag %1").arg(pair));
                                                   return child<QAbstractButton>(entry, 1);
                                               }));
                floorDelete.push_back(timeMs([&] { rawLabelScan(file); }));
                deleted.push_back(untilRepainted(book, list->viewport(), child<QAbstractButton>(book, 3001),
                                                 yesButton));
            }
        });
        report("new", rows, added, floorAdd);
        report("delete", rows, deleted, floorDelete);
    }
    out() << "peak\t" << rows << '\t' << peakRssMb() << " MB" << Qt::endl;
    return 0;
}

// Child: one first call, or one first raw scan, of a fresh process.
int runFirst(const QString &pluginDir, bool raw)
{
    if (raw) {
        out() << timeMs([&] { rawLabelScan(pluginDir + QStringLiteral("/DATA/kelvo.mdb")); }) << Qt::endl;
        return 0;
    }
    const Loaded loaded = load(pluginDir);
    if (!loaded.book)
        return 1;
    out() << showPaintAndConfirm(loaded.book).first << Qt::endl;
    return 0;
}

// Child: what a plain Qt dialog listing the book costs in a fresh process,
// to the end of its first paint.
int runFirstFloor(const QString &pluginDir)
{
    QElapsedTimer timer;
    timer.start();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("floor"));
        db.setDatabaseName(pluginDir + QStringLiteral("/DATA/kelvo.mdb"));
        db.open();
        QSqlQuery query(db);
        query.exec(QStringLiteral("SELECT rowid, Bezeichnung FROM Serverbook ORDER BY rowid"));
        QStringList labels;
        std::vector<qint64> rowids;
        while (query.next()) {
            rowids.push_back(query.value(0).toLongLong());
            labels << query.value(1).toString();
        }
        QCollator collator(QLocale(QLocale::German, QLocale::Germany));
        collator.setCaseSensitivity(Qt::CaseInsensitive);
        std::vector<int> order(size_t(labels.size()));
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(),
                         [&](int a, int b) { return collator.compare(labels[a], labels[b]) < 0; });
        QStringList sorted;
        for (const int i : order)
            sorted << labels[i];

        QDialog dialog;
        dialog.setWindowTitle(QStringLiteral("Serverbook-Auswahl"));
        auto *layout = new QGridLayout(&dialog);
        auto *entries = new QGroupBox(QStringLiteral("Bezeichnung"));
        auto *entriesLayout = new QGridLayout(entries);
        auto *list = new QListView;
        auto *model = new QStringListModel(sorted, &dialog);
        list->setModel(model);
        entriesLayout->addWidget(list, 0, 0, 1, 2);
        entriesLayout->addWidget(new QPushButton(QStringLiteral("Löschen")), 1, 0);
        entriesLayout->addWidget(new QPushButton(QStringLiteral("Neu ...")), 1, 1);
        auto *properties = new QGroupBox(QStringLiteral("Eigenschaften"));
        auto *propertiesLayout = new QGridLayout(properties);
        QLineEdit *fields[3];
        const char *names[] = {"Server:", "Startverzeichnis:", "Plugin:"};
        for (int i = 0; i < 3; ++i) {
            fields[i] = new QLineEdit;
            fields[i]->setReadOnly(true);
            propertiesLayout->addWidget(new QLabel(QString::fromUtf8(names[i])), i, 0);
            propertiesLayout->addWidget(fields[i], i, 1);
        }
        layout->addWidget(entries, 0, 0);
        layout->addWidget(properties, 1, 0);
        layout->addWidget(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel), 0, 1, 2, 1);
        if (!order.empty()) {
            list->setCurrentIndex(model->index(0));
            QSqlQuery details(db);
            details.prepare(QStringLiteral("SELECT Servername, Startverzeichnis, Plugindateiname FROM Serverbook "
                                           "WHERE rowid = ?"));
            details.addBindValue(rowids[size_t(order.front())]);
            details.exec();
            for (int i = 0; details.next() && i < 3; ++i)
                fields[i]->setText(details.value(i).toString());
        }
        double painted = -1;
        new PaintWatch(&dialog, [&] {
            painted = double(timer.nsecsElapsed()) / 1e6;
            dialog.accept();
        });
        dialog.exec();
        out() << painted << Qt::endl;
    }
    QSqlDatabase::removeDatabase(QStringLiteral("floor"));
    return 0;
}

// Child: keeps a core busy until it is ended.
[[noreturn]] void spin()
{
    for (;;)
        asm volatile("" ::: "memory");
}

double runChild(const QStringList &args, bool echo)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QCoreApplication::applicationFilePath(), args);
    process.waitForFinished(-1);
    const QString output = QString::fromUtf8(process.readAllStandardOutput());
    if (echo)
        out() << output;
    return output.trimmed().toDouble();
}

} // namespace

int main(int argc, char *argv[])
{
    if (!qEnvironmentVariableIsSet("DISPLAY") && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.value(1) == QLatin1String("--size"))
        return runSize(args.value(2), args.value(3).toInt());
    if (args.value(1) == QLatin1String("--first"))
        return runFirst(args.value(2), args.value(3) == QLatin1String("raw"));
    if (args.value(1) == QLatin1String("--first-floor"))
        return runFirstFloor(args.value(2));
    if (args.value(1) == QLatin1String("--spin"))
        spin();

    const LabelStyle style = args.contains(QLatin1String("--prefix")) ? LabelStyle::SharedPrefixes : LabelStyle::Mixed;
    QProcess spinner;
    if (args.contains(QLatin1String("--busy"))) {
        spinner.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--spin")});
        spinner.waitForStarted();
    }
    out() << "platform " << QGuiApplication::platformName() << "; labels "
          << (style == LabelStyle::Mixed ? "mixed" : "sharing long beginnings") << "; other core "
          << (spinner.state() == QProcess::Running ? "busy" : "idle") << "; medians of " << pairs()
          << " interleaved pairs, ratio to the floor with [min-max] of the per-pair ratios\n"
          << "what\trows\tmodule\tfloor\tratio" << Qt::endl;
    // --module measures another build's Kelvo.so (an older one, say) with
    // this harness.
    QStringList rest = args.mid(1);
    QString module = QStringLiteral(KELVO_PLUGIN_DIR "/Kelvo.so");
    if (const qsizetype option = rest.indexOf(QLatin1String("--module")); option >= 0) {
        module = rest.value(option + 1);
        rest.remove(option, std::min<qsizetype>(2, rest.size() - option));
    }
    QTemporaryDir dir;
    if (!QFile::copy(module, dir.filePath(QStringLiteral("Kelvo.so")))) {
        out() << "no module at " << module << Qt::endl;
        return 2;
    }
    QFile::copy(QStringLiteral(KELVO_PLUGIN_DIR "/FtpWorker.so"), dir.filePath(QStringLiteral("FtpWorker.so")));
    const QString book = dir.filePath(QStringLiteral("DATA/kelvo.mdb"));
    const auto freshBook = [&](int rows) {
        writeBenchStore(book, rows, style);
        QFile::remove(CServerBookStore::ListingOrderFile(book));
        QDir(dir.filePath(QStringLiteral("DATA/backup"))).removeRecursively();
    };
    // Sizes given on the command line run alone, for profiling one of them.
    std::vector<int> sizes;
    for (const QString &arg : rest) {
        if (!arg.startsWith(QLatin1String("--")))
            sizes.push_back(arg.toInt());
    }
    if (sizes.empty()) {
        // The common case: a small book, the first call in a running host.
        for (const int rows : {10, 100, 1000}) {
            freshBook(rows);
            std::vector<double> first, floor;
            for (int pair = 0; pair < pairs(); ++pair) {
                floor.push_back(runChild({QStringLiteral("--first-floor"), dir.path()}, false));
                first.push_back(runChild({QStringLiteral("--first"), dir.path(), QStringLiteral("module")}, false));
            }
            report("dialog", rows, first, floor);
        }
        sizes = {10'000, 100'000, 1'000'000};
    }
    for (const int rows : sizes) {
        freshBook(rows);
        runChild({QStringLiteral("--size"), dir.path(), QString::number(rows)}, true);
        if (rows == 100'000 || rows == 1'000'000) {
            // The changes made backups and rows; start the next size clean.
            QDir(dir.filePath(QStringLiteral("DATA/backup"))).removeRecursively();
        }
        std::vector<double> first, floor;
        for (int pair = 0; pair < 5; ++pair) {
            floor.push_back(runChild({QStringLiteral("--first"), dir.path(), QStringLiteral("raw")}, false));
            first.push_back(runChild({QStringLiteral("--first"), dir.path(), QStringLiteral("module")}, false));
        }
        report("first", rows, first, floor);
    }
    if (spinner.state() == QProcess::Running) {
        spinner.kill();
        spinner.waitForFinished();
    }
    return 0;
}
