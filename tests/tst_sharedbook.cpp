#include "cserverbookdialog.h"
#include "dialogdriver.h"
#include "kelvotemplates.h"
#include "templateregistry.h"

#include <QMessageBox>
#include <QProcess>
#include <QScrollBar>
#include <QtTest>


using namespace Ids;

namespace {

const QStringList kWorkers = {"FtpWorker.so", "HttpWorker.so", "HttpsWorker.so", "FileWorker.so"};

// Another program on the book: SQLite's own shell, in a process of its own.
void shell(const QString &file, const QString &sql)
{
    QProcess sqlite;
    sqlite.start("sqlite3", {file, sql});
    QVERIFY(sqlite.waitForFinished(10000));
    QVERIFY2(sqlite.exitCode() == 0, sqlite.readAllStandardError().constData());
}

// Counts the message boxes over dialog, confirming each; for the cases in
// which none may appear.
struct MessageCounter {
    QStringList shown;
    QTimer timer;
    explicit MessageCounter()
    {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                shown << box->text();
                box->accept();
            }
        });
        timer.start(5);
    }
};

// The book a sync tool puts in the book's place.
const QList<Row> kFromElsewhere = {{"Von woanders", "ftp://woanders/", "/w", "FtpWorker.so"}};

const QList<Row> kFive = {
    {"Zebra", "ftp://zebra.example/", "/z", "FtpWorker.so"},   {"Anton", "ftp://anton.example/", "/a", "FtpWorker.so"},
    {"über", "ftp://ueber.example/", "/u", "FtpWorker.so"},    {"Berta", "ftp://berta.example/", "/b", "FtpWorker.so"},
    {"Cäsar", "http://caesar.example/", "/c", "HttpWorker.so"},
};

} // namespace

// One book shared with other programs while the dialog is open: their
// changes merge in, and the user hears of them only where they touch the
// entry the user acts on.
class tst_SharedBook : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { RegisterDialogTemplates(KelvoTemplates()); }
    void cleanup() { verifyNothingLeftOpen(); }

    void anotherEntryDeletedMeanwhile();
    void selectionAndPlaceSurviveOutsideChanges();
    void selectedEntryChangedMeanwhile_data();
    void selectedEntryChangedMeanwhile();
    void fileReplacedUnderTheDialog_data();
    void fileReplacedUnderTheDialog();
    void okJustAfterTheFileWasReplaced();
    void typedEntrySurvivesAReplacedFile();
    void bookGoneForGood();
    void readOnlyBook_data();
    void readOnlyBook();
    void twoDialogsOnOneBook();
};

// The dialog on five entries; another program deletes "Zebra"; the user
// goes three lines down to "über" and deletes it: no message, and "über" is
// what goes.
void tst_SharedBook::anotherEntryDeletedMeanwhile()
{
    KELVO_LOAD_MODULE(module, kWorkers);
    const QString file = createStore(module.pluginDir(), kFive);
    MessageCounter *messages = nullptr;
    whenModal([&](QWidget *book) {
        QCOMPARE(listLines(book), QStringList({"Anton", "Berta", "Cäsar", "über", "Zebra"}));
        shell(file, "DELETE FROM Serverbook WHERE Bezeichnung = 'Zebra'");
        auto *list = child<QListView>(book, List);
        list->setFocus();
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(list, Qt::Key_Down);
        QCOMPARE(selectedLine(book), QStringLiteral("über"));
        whenModal([](QWidget *question) {
            answer(question, QMessageBox::Yes);
        }, book);
        click(book, Delete);
        messages = new MessageCounter;
        QTRY_COMPARE(listLines(book), QStringList({"Anton", "Berta", "Cäsar"}));
        click(book, 2);
    });
    module.select();
    QVERIFY2(messages && messages->shown.isEmpty(), qPrintable(messages ? messages->shown.join('|') : "no dialog"));
    delete messages;
    QCOMPARE(storedRows(module), QStringList({"Anton|ftp://anton.example/|/a|FtpWorker.so",
                                              "Berta|ftp://berta.example/|/b|FtpWorker.so",
                                              "Cäsar|http://caesar.example/|/c|HttpWorker.so"}));
}

// A long list scrolled down, one entry selected; other programs add an
// entry before it and delete one after it: the same entry stays selected
// with its details, the list keeps its place, the new entry shows.
void tst_SharedBook::selectionAndPlaceSurviveOutsideChanges()
{
    KELVO_LOAD_MODULE(module, kWorkers);
    QList<Row> rows;
    for (int i = 0; i < 300; ++i)
        rows << Row{QStringLiteral("Kunde %1").arg(i, 3, 10, QChar('0')), QStringLiteral("ftp://k%1/").arg(i), "/", "FtpWorker.so"};
    const QString file = createStore(module.pluginDir(), rows);
    MessageCounter messages;
    whenModal([&](QWidget *book) {
        auto *list = child<QListView>(book, List);
        list->scrollTo(list->model()->index(200, 0), QAbstractItemView::PositionAtTop);
        clickLine(book, 205);
        QCOMPARE(selectedLine(book), QStringLiteral("Kunde 205"));
        const int top = list->indexAt(QPoint(1, 1)).row();
        shell(file, "INSERT INTO Serverbook VALUES ('Aaa Neu', 'ftp://neu/', '/', 'FtpWorker.so')");
        QProcess::execute(KELVO_TOOLS_DIR "/kelvo-book", {"--plugin-dir", module.pluginDir(), "delete", "250"});
        QTRY_VERIFY(!listLines(book).contains("Kunde 250") && listLines(book).first() == QStringLiteral("Aaa Neu"));
        QCOMPARE(listLines(book).size(), 300);
        QCOMPARE(selectedLine(book), QStringLiteral("Kunde 205"));
        QCOMPARE(details(book)[0], QStringLiteral("ftp://k205/"));
        QVERIFY2(qAbs(list->indexAt(QPoint(1, 1)).row() - top) <= 1,
                 qPrintable(QStringLiteral("%1 -> %2").arg(top).arg(list->indexAt(QPoint(1, 1)).row())));
        click(book, 1);
    });
    const auto [result, entry] = module.select();
    QCOMPARE(result, 1);
    QCOMPARE(entry.strServer, QStringLiteral("ftp://k205/"));
    QVERIFY2(messages.shown.isEmpty(), qPrintable(messages.shown.join('|')));
}

void tst_SharedBook::selectedEntryChangedMeanwhile_data()
{
    QTest::addColumn<QString>("selected");
    QTest::addColumn<QStringList>("statements");
    QTest::addColumn<bool>("warned");
    QTest::newRow("changed") << "Berta" << QStringList{"UPDATE Serverbook SET Servername = 'ftp://x/' WHERE Bezeichnung = 'Berta'"} << true;
    QTest::newRow("deleted") << "Berta" << QStringList{"DELETE FROM Serverbook WHERE Bezeichnung = 'Berta'"} << true;
    QTest::newRow("rowid reused") << "Cäsar"
                                  << QStringList{"DELETE FROM Serverbook WHERE Bezeichnung = 'Cäsar'",
                                                 "INSERT INTO Serverbook VALUES ('Cäsar', 'ftp://fremd/', '/', '')"}
                                  << true;
    QTest::newRow("vacuum renumbers") << "Cäsar"
                                      << QStringList{"DELETE FROM Serverbook WHERE Bezeichnung = 'Anton'", "VACUUM"}
                                      << false;
    QTest::newRow("a twin added") << "Berta"
                                  << QStringList{"INSERT INTO Serverbook VALUES ('Berta', 'ftp://zwilling/', '/', '')"}
                                  << false;
}

// The selected entry changed, deleted, or replaced by another row under its
// rowid: OK is refused with the message, the dialog stays open, and no entry
// is handed back that the pane did not show. Renumbered or joined by a
// twin of the same label, it is found again and OK hands it back.
void tst_SharedBook::selectedEntryChangedMeanwhile()
{
    QFETCH(QString, selected);
    QFETCH(QStringList, statements);
    QFETCH(bool, warned);
    KELVO_LOAD_MODULE(module, kWorkers);
    const QString file = createStore(module.pluginDir(), kFive);
    QString original;
    QStringList messages;
    QStringList shownAtOk;
    whenModal([&](QWidget *book) {
        clickLine(book, int(listLines(book).indexOf(selected)));
        original = details(book)[0];
        for (const QString &statement : statements)
            shell(file, statement);
        // The dialog notices within half a second; OK is pressed after it did.
        QTest::qWait(1200);
        whenModal([&messages](QWidget *box) {
            messages << messageText(box);
            QTest::keyClick(box, Qt::Key_Return);
        }, book);
        click(book, 1);
        if (warned) {
            QCOMPARE(messages.size(), 1);
            QVERIFY(book->isVisible());
            shownAtOk = details(book);
            click(book, 1);
        } else {
            discardModalActions();
            shownAtOk = details(book);
        }
    });
    const auto [result, entry] = module.select();
    QCOMPARE(result, 1);
    QCOMPARE(texts(entry), shownAtOk);
    if (warned)
        QVERIFY2(messages.first().contains("anderen Programm"), qPrintable(messages.first()));
    else
        QCOMPARE(entry.strServer, original);
}

void tst_SharedBook::fileReplacedUnderTheDialog_data()
{
    QTest::addColumn<bool>("rename");
    QTest::newRow("renamed over it") << true;
    QTest::newRow("deleted and made anew") << false;
}

// A sync tool puts another file at the book's path: the dialog opens that
// one and lists it; nothing goes into the file that is gone.
void tst_SharedBook::fileReplacedUnderTheDialog()
{
    QFETCH(bool, rename);
    KELVO_LOAD_MODULE(module, kWorkers);
    const QString file = createStore(module.pluginDir(), kFive);
    QTemporaryDir other;
    const QString replacement = createStore(other.path(), kFromElsewhere);
    whenModal([&](QWidget *book) {
        QCOMPARE(listLines(book).size(), 5);
        if (rename) {
            QVERIFY(::rename(QFile::encodeName(replacement).constData(), QFile::encodeName(file).constData()) == 0);
        } else {
            QVERIFY(QFile::remove(file));
            QVERIFY(QFile::copy(replacement, file));
        }
        QTRY_COMPARE(listLines(book), QStringList{"Von woanders"});
        QCOMPARE(details(book), QStringList({"ftp://woanders/", "/w", "FtpWorker.so"}));
        // The selected entry is in that book no more: the first OK says so,
        // the second hands back the entry the pane shows.
        QString said;
        whenModal([&said](QWidget *box) {
            said = messageText(box);
            QTest::keyClick(box, Qt::Key_Return);
        }, book);
        click(book, 1);
        QVERIFY2(said.contains("anderen Programm"), qPrintable(said));
        click(book, 1);
    });
    QCOMPARE(module.select().second.strServer, QStringLiteral("ftp://woanders/"));

    // A change in the moment between the replacement and its noticing is refused.
    CServerBookStore store;
    store.Open(file);
    QVERIFY(store.PositionAt(0));
    QVERIFY(QFile::remove(file));
    createStore(module.pluginDir(), kFive);
    try {
        store.DeleteCurrent();
        QFAIL("deleted");
    } catch (const StoreError &error) {
        QVERIFY2(error.message().contains("ersetzt"), qPrintable(error.message()));
    }
    QCOMPARE(store.CheckOutside(), CServerBookStore::OutsideChange::Replaced);
    QCOMPARE(storedRows(module).size(), 5);
}

// OK pressed in the moment after a sync tool renamed another book over the
// path, before the dialog noticed: the entry the pane shows is of a book
// that is no longer there, so it is not handed back; the user is told and
// chooses again in the book that is.
void tst_SharedBook::okJustAfterTheFileWasReplaced()
{
    KELVO_LOAD_MODULE(module, kWorkers);
    const QString file = createStore(module.pluginDir(), kFive);
    QTemporaryDir other;
    const QString replacement = createStore(other.path(), kFromElsewhere);
    whenModal([&](QWidget *book) {
        QCOMPARE(listLines(book).size(), 5);
        QString said;
        whenModal([&said](QWidget *box) {
            said = messageText(box);
            QTest::keyClick(box, Qt::Key_Return);
        }, book);
        QVERIFY(::rename(QFile::encodeName(replacement).constData(), QFile::encodeName(file).constData()) == 0);
        click(book, 1);
        QVERIFY2(said.contains("ersetzt"), qPrintable(said));
        QCOMPARE(listLines(book), QStringList{"Von woanders"});
        click(book, 1);
    });
    const auto [result, entry] = module.select();
    QCOMPARE(result, 1);
    QCOMPARE(entry.strServer, QStringLiteral("ftp://woanders/"));
}

// A sync tool renames another book over the path while the user types a
// new entry: storing it is refused, but what was typed comes back, to be
// confirmed into the book now at the path.
void tst_SharedBook::typedEntrySurvivesAReplacedFile()
{
    KELVO_LOAD_MODULE(module, kWorkers);
    const QString file = createStore(module.pluginDir(), kFive);
    QTemporaryDir other;
    const QString replacement = createStore(other.path(), kFromElsewhere);
    QString said;
    QStringList again;
    whenModal([&](QWidget *book) {
        whenModal([&](QWidget *entry) {
            chooseWorker(entry, "FTP-Publishing-Worker");
            retype(entry, NewEntryControl::Label, "Getippt");
            retype(entry, NewEntryControl::Address, "ftp://getippt.example/");
            QVERIFY(::rename(QFile::encodeName(replacement).constData(), QFile::encodeName(file).constData()) == 0);
            whenModal([&](QWidget *box) {
                said = messageText(box);
                whenModal([&](QWidget *reopened) {
                    again = {field(reopened, NewEntryControl::Label)->text(), field(reopened, NewEntryControl::Address)->text()};
                    click(reopened, 1);
                }, book);
                QTest::keyClick(box, Qt::Key_Return);
            }, entry);
            click(entry, 1);
        }, book);
        click(book, ServerBookControl::New);
        QCOMPARE(listLines(book), QStringList({"Getippt", "Von woanders"}));
        click(book, 2);
    });
    module.select();
    QVERIFY2(said.contains("ersetzt") && said.contains("Angaben bleiben erhalten"), qPrintable(said));
    QCOMPARE(again, QStringList({"Getippt", "ftp://getippt.example/"}));
    QCOMPARE(storedRows(module).size(), 2);
}

// The book is deleted while the dialog is open and nothing takes its place:
// the user is told once, not at every check, and can still leave the
// dialog; when the book comes back, it is listed again.
void tst_SharedBook::bookGoneForGood()
{
    KELVO_LOAD_MODULE(module, kWorkers);
    const QString file = createStore(module.pluginDir(), kFive);
    QStringList told;
    whenModal([&](QWidget *book) {
        const auto tell = [&told, book] {
            whenModal([&told](QWidget *box) {
                told << messageText(box);
                QTest::keyClick(box, Qt::Key_Return);
            }, book);
        };
        tell();
        QVERIFY(QFile::remove(file));
        QTRY_COMPARE(told.size(), 1);
        QVERIFY2(told.first().contains("nicht gefunden"), qPrintable(told.first()));
        // Three more checks go by without another word.
        QTest::qWait(1600);
        QCOMPARE(told.size(), 1);
        discardModalActions();
        createStore(module.pluginDir(), {{"Wieder da", "ftp://wieder/", "/", "FtpWorker.so"}});
        QTRY_COMPARE(listLines(book), QStringList{"Wieder da"});
        click(book, 2);
    });
    QCOMPARE(module.select().first, 2);
}

void tst_SharedBook::readOnlyBook_data()
{
    QTest::addColumn<bool>("wal");
    QTest::newRow("rollback journal") << false;
    QTest::newRow("write-ahead log") << true;
}

// A book on a file system mounted read-only: it lists and hands back an
// entry; every change is refused with the reason before anything is asked.
void tst_SharedBook::readOnlyBook()
{
    QFETCH(bool, wal);
    KELVO_LOAD_MODULE(module, kWorkers);
    ReadOnlyBookFolder data(module.pluginDir() + "/DATA");
    if (!data.usable())
        QSKIP("no file system can be mounted here");
    const QString file = createStore(module.pluginDir(), kFive);
    if (wal)
        shell(file, "PRAGMA journal_mode = WAL");
    QVERIFY(data.makeReadOnly(file));
    QStringList messages;
    whenModal([&](QWidget *book) {
        QCOMPARE(listLines(book).size(), 5);
        auto refused = [&](const std::function<void()> &act) {
            whenModal([&messages](QWidget *box) {
                messages << messageText(box);
                QTest::keyClick(box, Qt::Key_Return);
            }, book);
            act();
        };
        refused([book] { click(book, New); });
        refused([book] { click(book, Delete); });
        refused([book] { QTest::keyClick(child<QListView>(book, List), Qt::Key_F2); });
        clickLine(book, 1);
        click(book, 1);
    });
    const auto [result, entry] = module.select();
    QCOMPARE(result, 1);
    QCOMPARE(entry.strServer, QStringLiteral("ftp://berta.example/"));
    QCOMPARE(messages.size(), 3);
    for (const QString &message : std::as_const(messages))
        QVERIFY2(message.contains("kann nur gelesen werden") && message.contains("schreibgeschützt"), qPrintable(message));
    // Read as the module reads it: a WAL book there opens only so.
    CServerBookStore store;
    store.Open(module.storeFile());
    QCOMPARE(store.ListAll().size(), 5u);
    QVERIFY(!store.ReadOnlyReason().isEmpty());
}

// Two dialogs in one process, each with a store of its own on the book:
// what one deletes and adds shows in the other within a second, and the
// other then deletes an entry of its own without a word.
void tst_SharedBook::twoDialogsOnOneBook()
{
    QTemporaryDir dir;
    const QString file = createStore(dir.path(), kFive);
    CServerBookStore first, second;
    first.Open(file);
    second.Open(file);
    CServerBookDialog under, over;
    under.m_pStore = &first;
    over.m_pStore = &second;
    QStringList messages;
    whenModalIs([&under](QWidget *top) { return top == &under; }, [&](QWidget *) {
        QTimer::singleShot(0, [&] {
            whenModalIs([&over](QWidget *top) { return top == &over; }, [&](QWidget *) {
                clickLine(&over, 1);  // Berta
                whenModal([](QWidget *question) {
                    answer(question, QMessageBox::Yes);
                }, &over);
                click(&over, Delete);
                QTRY_COMPARE(listLines(&under), QStringList({"Anton", "Cäsar", "über", "Zebra"}));
                OutsideConnection(file).exec("INSERT INTO Serverbook VALUES ('Dora', 'ftp://dora/', '/', '')");
                QTRY_COMPARE(listLines(&under), QStringList({"Anton", "Cäsar", "Dora", "über", "Zebra"}));
                QTRY_COMPARE(listLines(&over), QStringList({"Anton", "Cäsar", "Dora", "über", "Zebra"}));
                click(&over, 2);
            });
            over.DoModal();
            clickLine(&under, 3);  // über
            whenModal([&messages](QWidget *question) {
                QMessageBox *box = messageBoxIn(question);
                QVERIFY(box);
                messages << box->text();
                QTest::mouseClick(box->button(QMessageBox::Yes), Qt::LeftButton);
            }, &under);
            click(&under, Delete);
            QCOMPARE(listLines(&under), QStringList({"Anton", "Cäsar", "Dora", "Zebra"}));
            click(&under, 2);
        });
    });
    QCOMPARE(under.DoModal(), 2);
    QCOMPARE(messages.size(), 1);  // the delete question, and nothing else
    QCOMPARE(OutsideConnection(file).column("SELECT Bezeichnung FROM Serverbook ORDER BY rowid"),
             QStringList({"Zebra", "Anton", "Cäsar", "Dora"}));
}

QTEST_MAIN(tst_SharedBook)
#include "tst_sharedbook.moc"
