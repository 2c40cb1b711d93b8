#include "dialogdriver.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

namespace {

using namespace Ids;

bool okEnabled(QWidget *dialog)
{
    return child<QPushButton>(dialog, 1)->isEnabled();
}

QStringList comboLines(QWidget *dialog)
{
    QStringList lines;
    auto *combo = child<QComboBox>(dialog, Worker);
    for (int i = 0; i < combo->count(); ++i)
        lines << combo->itemText(i);
    return lines;
}

// Runs the selection dialog; act gets it and the new entry dialog that
// "Neu ..." opened over it, and must end the new entry dialog. The selection
// dialog is then confirmed.
int runNewEntry(const ModuleFixture &module, std::function<void(QWidget *book, QWidget *entry)> act,
                std::function<void(QWidget *book)> afterwards = {})
{
    whenModal([act, afterwards](QWidget *book) {
        whenModal([book, act, afterwards](QWidget *entry) {
            QCOMPARE(entry->windowTitle(), QStringLiteral("Neuen Eintrag zu Serverbook hinzufügen"));
            whenBackOnTop(book, [afterwards](QWidget *book) {
                if (afterwards)
                    afterwards(book);
                QTest::mouseClick(child<QPushButton>(book, 1), Qt::LeftButton);
            });
            act(book, entry);
        }, book);
        QTest::mouseClick(child<QPushButton>(book, 3002), Qt::LeftButton);
    });
    return module.select().first;
}

} // namespace

class tst_NewEntry : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    // The dialog and what it stores
    void withoutWorkersTheEntryHasNoPluginFile();
    void workerIndexSurvivesSorting();
    void incompatibleProtocolIsQuestioned();
    void okNeedsLabelAddressAndStartPath();
    void cancelStoresNothingAndKeepsTheSelection();
    void tooLongTextKeepsTheDialogOpen();
    void textsRoundTripAndTheEntryIsListed();

    // Address templates and start-path following
    void firstWorkerFillsItsTemplate();
    void startPathFollowsTheAddressUntilTypedOver();
    void unparsableAddressResetsTheStartPath();
    void fileWorkerCopiesLocalPaths();
    void unknownProtocolEmptiesBothFields();
    void reselectingTheWorkerKeepsTheFields();
    void switchingWorkersRestoresTemplates();
};

void tst_NewEntry::cleanup()
{
    verifyNothingLeftOpen();
}

void tst_NewEntry::withoutWorkersTheEntryHasNoPluginFile()
{
    KELVO_LOAD_MODULE(module);
    createStore(module.pluginDir());
    const int result = runNewEntry(module, [](QWidget *, QWidget *entry) {
        QVERIFY(comboLines(entry).isEmpty());
        QVERIFY(field(entry, Address)->text().isEmpty());
        QVERIFY(!okEnabled(entry));
        QCOMPARE(entry->focusWidget(), field(entry, Label));
        typeText(field(entry, Label), "Ohne Worker");
        typeText(field(entry, Address), "ftp://h.example.com/pub");
        QCOMPARE(field(entry, StartPath)->text(), QStringLiteral("/pub"));
        QVERIFY(okEnabled(entry));
        QTest::mouseClick(child<QPushButton>(entry, 1), Qt::LeftButton);
    }, [](QWidget *book) {
        QCOMPARE(child<QLineEdit>(book, 3003)->text(), QStringLiteral("ftp://h.example.com/pub"));
        QCOMPARE(child<QLineEdit>(book, 3005)->text(), QString());
    });
    QCOMPARE(result, 1);
    QCOMPARE(storedRows(module), QStringList{"Ohne Worker|ftp://h.example.com/pub|/pub|"});
}

// The list is sorted by name, the workers are indexed by file: the line
// carries the index, so the worker shown is the worker stored.
void tst_NewEntry::workerIndexSurvivesSorting()
{
    KELVO_LOAD_MODULE(module, {"FtpWorker.so", "ZFtpWorker.so"});
    createStore(module.pluginDir());
    runNewEntry(module, [](QWidget *, QWidget *entry) {
        QCOMPARE(comboLines(entry), QStringList({"Alternativer FTP-Worker", "FTP-Publishing-Worker"}));
        QCOMPARE(child<QComboBox>(entry, Worker)->currentIndex(), 0);
        typeText(field(entry, Label), "Z");
        QTest::mouseClick(child<QPushButton>(entry, 1), Qt::LeftButton);
    });
    QCOMPARE(storedRows(module), QStringList{"Z|ftp://ftp.example.com/|/|ZFtpWorker.so"});
}

void tst_NewEntry::incompatibleProtocolIsQuestioned()
{
    KELVO_LOAD_MODULE(module, {"FtpWorker.so"});
    createStore(module.pluginDir());
    runNewEntry(module, [&module](QWidget *, QWidget *entry) {
        typeText(field(entry, Label), "Gemischt");
        retype(entry, Address, "http://www.example.com/web");
        auto answer = [entry](QMessageBox::StandardButton button) {
            whenModal([button](QWidget *box) {
                QMessageBox *question = messageBoxIn(box);
                QVERIFY(question);
                QCOMPARE(question->text(),
                         QStringLiteral("Das verwendete Dateiprotokoll und das Protokoll des aktuellen\n"
                                        "Publishing-Workers sind nicht kompatibel!\n\n"
                                        "Soll es trotzdem verwendet werden?"));
                QCOMPARE(question->defaultButton(), question->button(QMessageBox::No));
                QTest::mouseClick(question->button(button), Qt::LeftButton);
            }, entry);
            QTest::mouseClick(child<QPushButton>(entry, 1), Qt::LeftButton);
        };
        answer(QMessageBox::No);
        QVERIFY(entry->isVisible());
        // The address is what the user is asked to mend.
        QCOMPARE(entry->focusWidget(), field(entry, Address));
        QCOMPARE(field(entry, Address)->text(), QStringLiteral("http://www.example.com/web"));
        QCOMPARE(field(entry, StartPath)->text(), QStringLiteral("/web"));
        QVERIFY(storedRows(module).isEmpty());
        answer(QMessageBox::Yes);
    });
    QCOMPARE(storedRows(module), QStringList{"Gemischt|http://www.example.com/web|/web|FtpWorker.so"});
}

void tst_NewEntry::okNeedsLabelAddressAndStartPath()
{
    KELVO_LOAD_MODULE(module, {"HttpWorker.so"});
    createStore(module.pluginDir());
    runNewEntry(module, [](QWidget *, QWidget *entry) {
        QVERIFY(!okEnabled(entry));
        typeText(field(entry, Label), "x");
        QVERIFY(okEnabled(entry));
        QTest::keyClick(field(entry, Label), Qt::Key_Backspace);
        QVERIFY(!okEnabled(entry));
        typeText(field(entry, Label), "y");
        QVERIFY(okEnabled(entry));
        retype(entry, StartPath, "");
        QVERIFY(!okEnabled(entry));
        typeText(field(entry, StartPath), "/s");
        QVERIFY(okEnabled(entry));
        field(entry, Address)->clear();
        QVERIFY(!okEnabled(entry));
        QTest::keyClick(entry, Qt::Key_Escape);
    });
    QVERIFY(storedRows(module).isEmpty());
}

void tst_NewEntry::cancelStoresNothingAndKeepsTheSelection()
{
    KELVO_LOAD_MODULE(module, {"FtpWorker.so"});
    createStore(module.pluginDir(), {{"A", "ftp://a/", "/a", "FtpWorker.so"}, {"B", "ftp://b/", "/b", "FtpWorker.so"}});
    whenModal([](QWidget *book) {
        auto *list = child<QListView>(book, 3000);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualRect(list->model()->index(1, 0)).center());
        whenModal([](QWidget *entry) {
            typeText(field(entry, Label), "Verworfen");
            QTest::mouseClick(child<QPushButton>(entry, 2), Qt::LeftButton);
        }, book);
        QTest::mouseClick(child<QPushButton>(book, 3002), Qt::LeftButton);
        // A re-list would have selected the first line again.
        QCOMPARE(list->selectionModel()->selectedRows().value(0).row(), 1);
        QTest::mouseClick(child<QPushButton>(book, 1), Qt::LeftButton);
    });
    const auto [result, picked] = module.select();
    QCOMPARE(result, 1);
    QCOMPARE(picked.strServer, QStringLiteral("ftp://b/"));
    QCOMPARE(storedRows(module).size(), 2);
}

void tst_NewEntry::tooLongTextKeepsTheDialogOpen()
{
    KELVO_LOAD_MODULE(module, {"FtpWorker.so"});
    createStore(module.pluginDir());
    QString message;
    runNewEntry(module, [&message](QWidget *, QWidget *entry) {
        field(entry, Label)->setText(QString(129, 'x'));
        whenModal([&message](QWidget *box) {
            message = messageText(box);
            QTest::keyClick(box, Qt::Key_Return);
        }, entry);
        QTest::mouseClick(child<QPushButton>(entry, 1), Qt::LeftButton);
        QVERIFY(entry->isVisible());
        field(entry, Label)->setText(QString(128, 'x'));
        QTest::mouseClick(child<QPushButton>(entry, 1), Qt::LeftButton);
    });
    QVERIFY(message.contains("128"));
    QCOMPARE(storedRows(module), QStringList{QString(128, 'x') + "|ftp://ftp.example.com/|/|FtpWorker.so"});
}

void tst_NewEntry::textsRoundTripAndTheEntryIsListed()
{
    KELVO_LOAD_MODULE(module, {"FtpWorker.so"});
    createStore(module.pluginDir(), {{"Zuerst", "ftp://z/", "/", "FtpWorker.so"}});
    const QString label = QStringLiteral("Ärger \"Größe\" O'Neil; ß");
    runNewEntry(module, [label](QWidget *, QWidget *entry) {
        typeText(field(entry, Label), label);
        typeText(field(entry, Address), "ü");
        QTest::mouseClick(child<QPushButton>(entry, 1), Qt::LeftButton);
    }, [label](QWidget *book) {
        auto *list = child<QListView>(book, 3000);
        QCOMPARE(list->model()->index(0, 0).data().toString(), label);  // sorted before "Zuerst"
        QCOMPARE(list->selectionModel()->selectedRows().value(0).row(), 0);
        QCOMPARE(child<QLineEdit>(book, 3003)->text(), QStringLiteral("ftp://ftp.example.com/ü"));
        QCOMPARE(child<QLineEdit>(book, 3004)->text(), QStringLiteral("/ü"));
        QCOMPARE(child<QLineEdit>(book, 3005)->text(), QStringLiteral("FtpWorker.so"));
    });
    QCOMPARE(storedRows(module).last(), label + "|ftp://ftp.example.com/ü|/ü|FtpWorker.so");
}

void tst_NewEntry::firstWorkerFillsItsTemplate()
{
    KELVO_LOAD_MODULE(module, {"HttpWorker.so", "FtpWorker.so"});
    createStore(module.pluginDir());
    runNewEntry(module, [](QWidget *, QWidget *entry) {
        QCOMPARE(comboLines(entry), QStringList({"FTP-Publishing-Worker", "HTTP-Publishing-Worker"}));
        QCOMPARE(field(entry, Address)->text(), QStringLiteral("ftp://ftp.example.com/"));
        QCOMPARE(field(entry, StartPath)->text(), QStringLiteral("/"));
        QVERIFY(!okEnabled(entry));
        typeText(field(entry, Label), "L");
        QVERIFY(okEnabled(entry));
        QTest::keyClick(entry, Qt::Key_Escape);
    });
}

void tst_NewEntry::startPathFollowsTheAddressUntilTypedOver()
{
    KELVO_LOAD_MODULE(module, {"FtpWorker.so"});
    createStore(module.pluginDir());
    runNewEntry(module, [](QWidget *, QWidget *entry) {
        QLineEdit *address = field(entry, Address);
        address->setFocus();
        address->end(false);
        typeText(address, "verein");
        QCOMPARE(field(entry, StartPath)->text(), QStringLiteral("/verein"));
        typeText(address, "/neu");
        QCOMPARE(field(entry, StartPath)->text(), QStringLiteral("/verein/neu"));

        retype(entry, StartPath, "/eigen");
        address->setFocus();
        address->end(false);
        typeText(address, "er/pfad");
        QCOMPARE(field(entry, StartPath)->text(), QStringLiteral("/eigen"));
        QTest::keyClick(entry, Qt::Key_Escape);
    });
}

void tst_NewEntry::unparsableAddressResetsTheStartPath()
{
    KELVO_LOAD_MODULE(module, {"FtpWorker.so"});
    createStore(module.pluginDir());
    runNewEntry(module, [](QWidget *, QWidget *entry) {
        retype(entry, StartPath, "/eigen");
        retype(entry, Address, "ft");
        QCOMPARE(field(entry, StartPath)->text(), QStringLiteral("/"));
        typeText(field(entry, Address), "p://host/wieder");
        QCOMPARE(field(entry, StartPath)->text(), QStringLiteral("/wieder"));
        QTest::keyClick(entry, Qt::Key_Escape);
    });
}

void tst_NewEntry::fileWorkerCopiesLocalPaths()
{
    KELVO_LOAD_MODULE(module, {"FileWorker.so", "FtpWorker.so"});
    createStore(module.pluginDir());
    runNewEntry(module, [](QWidget *, QWidget *entry) {
        QCOMPARE(child<QComboBox>(entry, Worker)->currentText(), QStringLiteral("Datei-Publishing-Worker"));
        QCOMPARE(field(entry, Address)->text(), QStringLiteral("/"));
        QCOMPARE(field(entry, StartPath)->text(), QStringLiteral("/"));
        typeText(field(entry, Address), "srv/www");
        QCOMPARE(field(entry, StartPath)->text(), QStringLiteral("/srv/www"));
        retype(entry, Address, "C:\\Web\\Seite");
        QCOMPARE(field(entry, StartPath)->text(), QStringLiteral("C:\\Web\\Seite"));
        typeText(field(entry, Label), "Lokal");
        QTest::mouseClick(child<QPushButton>(entry, 1), Qt::LeftButton);
    });
    QCOMPARE(storedRows(module), QStringList{"Lokal|C:\\Web\\Seite|C:\\Web\\Seite|FileWorker.so"});
}

void tst_NewEntry::unknownProtocolEmptiesBothFields()
{
    KELVO_LOAD_MODULE(module, {"FtpWorker.so", "TelnetWorker.so"});
    createStore(module.pluginDir());
    runNewEntry(module, [](QWidget *, QWidget *entry) {
        typeText(field(entry, Label), "T");
        QVERIFY(okEnabled(entry));
        chooseWorker(entry, "Telnet-Publishing-Worker");
        QCOMPARE(field(entry, Address)->text(), QString());
        QCOMPARE(field(entry, StartPath)->text(), QString());
        QVERIFY(!okEnabled(entry));
        QTest::keyClick(entry, Qt::Key_Escape);
    });
}

void tst_NewEntry::reselectingTheWorkerKeepsTheFields()
{
    KELVO_LOAD_MODULE(module, {"FtpWorker.so"});
    createStore(module.pluginDir());
    runNewEntry(module, [](QWidget *, QWidget *entry) {
        typeText(field(entry, Address), "abc");
        QCOMPARE(field(entry, StartPath)->text(), QStringLiteral("/abc"));
        chooseWorker(entry, "FTP-Publishing-Worker");
        QCOMPARE(field(entry, Address)->text(), QStringLiteral("ftp://ftp.example.com/abc"));
        QCOMPARE(field(entry, StartPath)->text(), QStringLiteral("/abc"));
        QTest::keyClick(entry, Qt::Key_Escape);
    });
}

void tst_NewEntry::switchingWorkersRestoresTemplates()
{
    KELVO_LOAD_MODULE(module, {"FtpWorker.so", "HttpWorker.so", "HttpsWorker.so", "GopherWorker.so"});
    createStore(module.pluginDir());
    runNewEntry(module, [](QWidget *, QWidget *entry) {
        const QList<std::pair<QString, QString>> expected = {
            {"HTTP-Publishing-Worker", "http://www.example.com/"},
            {"FTP-Publishing-Worker", "ftp://ftp.example.com/"},
            {"HTTPS-Publishing-Worker", "https://www.example.com/"},
            {"Gopher-Publishing-Worker", "gopher://"},
            {"HTTP-Publishing-Worker", "http://www.example.com/"},
        };
        for (const auto &[worker, address] : expected) {
            typeText(field(entry, Address), "x");  // edits are replaced by the template
            chooseWorker(entry, worker);
            QCOMPARE(field(entry, Address)->text(), address);
            QCOMPARE(field(entry, StartPath)->text(), QStringLiteral("/"));
        }
        // What the template replaced comes back with Ctrl+Z.
        retype(entry, Address, "ftp://mein.server.example/");
        chooseWorker(entry, "HTTPS-Publishing-Worker");
        QCOMPARE(field(entry, Address)->text(), QStringLiteral("https://www.example.com/"));
        QTest::keyClick(field(entry, Address), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(field(entry, Address)->text(), QStringLiteral("ftp://mein.server.example/"));
        QTest::keyClick(entry, Qt::Key_Escape);
    });
}

QTEST_MAIN(tst_NewEntry)
#include "tst_newentry.moc"
