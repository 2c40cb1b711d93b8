#include "modalhelper.h"
#include "moduletest.h"

#include <QLabel>
#include <QLibrary>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>

namespace {

QStringList listLines(QWidget *dialog)
{
    auto *list = child<QListView>(dialog, 3000);
    QStringList lines;
    for (int i = 0; i < list->model()->rowCount(); ++i)
        lines << list->model()->index(i, 0).data().toString();
    return lines;
}

QString selectedLine(QWidget *dialog)
{
    const auto selected = child<QListView>(dialog, 3000)->selectionModel()->selectedRows();
    return selected.isEmpty() ? QString() : selected.first().data().toString();
}

QStringList details(QWidget *dialog)
{
    return {child<QLineEdit>(dialog, 3003)->text(), child<QLineEdit>(dialog, 3004)->text(),
            child<QLineEdit>(dialog, 3005)->text()};
}

QStringList texts(const SERVERBOOKENTRYSTRUC &entry)
{
    return {entry.strServer, entry.strStartDir, entry.strPluginFile};
}

void clickLine(QWidget *dialog, int line)
{
    auto *list = child<QListView>(dialog, 3000);
    const QRect rect = list->visualRect(list->model()->index(line, 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
}

void click(QWidget *dialog, int id)
{
    QTest::mouseClick(child<QPushButton>(dialog, id), Qt::LeftButton);
}

// Clicks "Löschen" and answers the question with yes or no.
void deleteSelected(QWidget *dialog, bool yes)
{
    whenModal([yes](QWidget *box) {
        auto *question = qobject_cast<QMessageBox *>(box);
        QVERIFY(question);
        QCOMPARE(question->text(), QStringLiteral("Das Löschen der Adresse ist nicht rückgängig zu machen!\n"
                                                  "Soll wirklich gelöscht werden?"));
        QCOMPARE(question->defaultButton(), question->button(QMessageBox::Yes));
        QTest::mouseClick(question->button(yes ? QMessageBox::Yes : QMessageBox::No), Qt::LeftButton);
    }, dialog);
    click(dialog, 3001);
}

const QList<Row> kThreeRows = {
    {"Mitte", "ftp://mitte.example.com/", "/m", "FtpWorker.so"},
    {"Anfang", "http://anfang.example.com/", "/a", "HttpWorker.so"},
    {"Zuletzt", "https://zuletzt.example.com/", "/z", "HttpsWorker.so"},
};

} // namespace

class tst_ServerBook : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void beforeAnySelectionTheLastEntryIsEmpty();
    void identityAndNullPointers();
    void aboutBox();
    void linesAreSortedAndLeadToTheirRows();
    void cancelKeepsTheShownEntry();
    void emptyBookShowsPlaceholders();
    void deleteAskedAndAnswered();
    void duplicateLabelsKeepTheirRows();
    void secondCallOverwritesTheFirst();
    void missingStoreLeavesTheLastOutcome();
    void storeFailureWhileRunningIsShown();
    void hostDefaultConnectionSurvives();
};

void tst_ServerBook::cleanup()
{
    QTRY_VERIFY(QApplication::activeModalWidget() == nullptr);
}

// Runs first: the module was just loaded.
void tst_ServerBook::beforeAnySelectionTheLastEntryIsEmpty()
{
    ModuleFixture module;
    SERVERBOOKENTRYSTRUC entry{"x", "y", "z"};
    QCOMPARE(module.book()->GetLastServerBookEntry(&entry), 0);
    QCOMPARE(texts(entry), QStringList({"", "", ""}));
}

void tst_ServerBook::identityAndNullPointers()
{
    ModuleFixture module;
    CServerbookExtPluginDLL *book = module.book();
    QCOMPARE(book->GetPluginName(), QStringLiteral("Standard-ServerBook v1.0"));
    QCOMPARE(book->GetPluginInfo(),
             QStringLiteral("Standard-Plugin für Ostrel v1.0 zur Verwaltung eines Serverbooks."));
    QString typeString;
    QCOMPARE(book->GetPluginType(&typeString), 7);
    QCOMPARE(typeString, QStringLiteral("PLUGINTYPE_KELVOEXTENSION"));
    QCOMPARE(book->GetPluginFileName(), QStringLiteral("Kelvo.so"));

    // The exports themselves, as a host with a bug might call them.
    QLibrary library(module.pluginDir() + "/Kelvo.so");
    QVERIFY2(library.load(), qPrintable(library.errorString()));
    for (const char *name : {"GetPluginName", "GetPluginInfo", "GetPluginTypeAsString", "GetLastServerBookError"}) {
        auto fn = reinterpret_cast<PluginStringExport>(library.resolve(name));
        QVERIFY2(fn, name);
        QCOMPARE(fn(nullptr), nullptr);
    }
    auto typeCode = reinterpret_cast<PluginTypeExport>(library.resolve("GetPluginTypeAsInteger"));
    QCOMPARE(typeCode(nullptr), nullptr);
    int codes[3] = {-5, -5, -5};
    QCOMPARE(typeCode(&codes[1]), &codes[1]);
    QCOMPARE(codes[0], -5);  // exactly one int written
    QCOMPARE(codes[1], 7);
    QCOMPARE(codes[2], -5);
    auto last = reinterpret_cast<GetLastServerBookEntryExport>(library.resolve("GetLastServerBookEntry"));
    QCOMPARE(last(nullptr), 0);
    QVERIFY(library.unload());
}

void tst_ServerBook::aboutBox()
{
    ModuleFixture module;
    bool seen = false;
    whenModal([&seen](QWidget *about) {
        QCOMPARE(about->windowTitle(), QStringLiteral("About"));
        QStringList texts;
        for (auto *label : about->findChildren<QLabel *>())
            texts << label->text();
        QVERIFY(texts.join('|').contains("Programmiert von:\nVesperin\n\nPlugin-Type: Serverbook-Extension"));
        seen = true;
        click(about, 1);
    });
    module.book()->ShowPluginDialog();
    QVERIFY(seen);
}

void tst_ServerBook::linesAreSortedAndLeadToTheirRows()
{
    ModuleFixture module;
    createStore(module.pluginDir(), kThreeRows);
    whenModal([](QWidget *d) {
        QCOMPARE(d->windowTitle(), QStringLiteral("Serverbook-Auswahl"));
        QCOMPARE(listLines(d), QStringList({"Anfang", "Mitte", "Zuletzt"}));
        // The alphabetically first entry is selected, with its own row's details.
        QCOMPARE(selectedLine(d), QStringLiteral("Anfang"));
        QCOMPARE(details(d), QStringList({"http://anfang.example.com/", "/a", "HttpWorker.so"}));
        QVERIFY(child(d, 3001)->isEnabled());
        clickLine(d, 2);
        QCOMPARE(details(d), QStringList({"https://zuletzt.example.com/", "/z", "HttpsWorker.so"}));
        clickLine(d, 1);
        QCOMPARE(details(d), QStringList({"ftp://mitte.example.com/", "/m", "FtpWorker.so"}));
        click(d, 1);
    });
    const auto [result, entry] = module.select();
    QCOMPARE(result, 1);
    QCOMPARE(texts(entry), QStringList({"ftp://mitte.example.com/", "/m", "FtpWorker.so"}));
    QVERIFY(module.book()->GetLastServerBookError().isEmpty());
}

void tst_ServerBook::cancelKeepsTheShownEntry()
{
    ModuleFixture module;
    createStore(module.pluginDir(), kThreeRows);
    whenModal([](QWidget *d) {
        clickLine(d, 2);
        QTest::keyClick(d, Qt::Key_Escape);
    });
    const auto [result, entry] = module.select();
    QCOMPARE(result, 2);
    QCOMPARE(entry.strServer, QStringLiteral("https://zuletzt.example.com/"));
    QCOMPARE(entry.strPluginFile, QStringLiteral("HttpsWorker.so"));
}

void tst_ServerBook::emptyBookShowsPlaceholders()
{
    ModuleFixture module;
    createStore(module.pluginDir());
    whenModal([](QWidget *d) {
        QVERIFY(listLines(d).isEmpty());
        QCOMPARE(details(d), QStringList({"- keine aktuelle Serveradresse -", "- kein aktueller Startpfad -",
                                          "- kein aktueller Plugin -"}));
        QVERIFY(!child(d, 3001)->isEnabled());
        click(d, 1);
    });
    const auto [result, entry] = module.select();
    QCOMPARE(result, 1);
    QCOMPARE(texts(entry), QStringList({"", "", ""}));
}

void tst_ServerBook::deleteAskedAndAnswered()
{
    ModuleFixture module;
    const QString file = createStore(module.pluginDir(), kThreeRows);
    whenModal([](QWidget *d) {
        clickLine(d, 1);  // Mitte
        deleteSelected(d, false);
        QCOMPARE(listLines(d), QStringList({"Anfang", "Mitte", "Zuletzt"}));
        QCOMPARE(selectedLine(d), QStringLiteral("Mitte"));

        deleteSelected(d, true);
        QCOMPARE(listLines(d), QStringList({"Anfang", "Zuletzt"}));
        QCOMPARE(selectedLine(d), QStringLiteral("Anfang"));
        QCOMPARE(details(d), QStringList({"http://anfang.example.com/", "/a", "HttpWorker.so"}));

        // Deleting the rest leaves the placeholders and a disabled button.
        deleteSelected(d, true);
        deleteSelected(d, true);
        QVERIFY(listLines(d).isEmpty());
        QVERIFY(!child(d, 3001)->isEnabled());
        QCOMPARE(details(d)[0], QStringLiteral("- keine aktuelle Serveradresse -"));
        click(d, 2);
    });
    QCOMPARE(module.select().first, 2);
    QCOMPARE(OutsideConnection(file).column("SELECT count(*) FROM Serverbook"), QStringList{"0"});
}

void tst_ServerBook::duplicateLabelsKeepTheirRows()
{
    ModuleFixture module;
    const QString file = createStore(module.pluginDir(), {{"Gleich", "ftp://eins/", "/1", "FtpWorker.so"},
                                                         {"gleich", "ftp://zwei/", "/2", "FtpWorker.so"},
                                                         {"Gleich", "ftp://drei/", "/3", "FtpWorker.so"}});
    whenModal([](QWidget *d) {
        QCOMPARE(listLines(d), QStringList({"Gleich", "gleich", "Gleich"}));
        QCOMPARE(details(d)[0], QStringLiteral("ftp://eins/"));
        clickLine(d, 1);
        QCOMPARE(details(d)[0], QStringLiteral("ftp://zwei/"));
        clickLine(d, 2);
        QCOMPARE(details(d)[0], QStringLiteral("ftp://drei/"));
        deleteSelected(d, true);
        click(d, 1);
    });
    QCOMPARE(module.select().first, 1);
    QCOMPARE(OutsideConnection(file).column("SELECT Servername FROM Serverbook ORDER BY rowid"),
             QStringList({"ftp://eins/", "ftp://zwei/"}));
}

void tst_ServerBook::secondCallOverwritesTheFirst()
{
    ModuleFixture module;
    createStore(module.pluginDir(), kThreeRows);
    whenModal([](QWidget *d) { click(d, 1); });
    QCOMPARE(module.select().second.strServer, QStringLiteral("http://anfang.example.com/"));
    whenModal([](QWidget *d) {
        clickLine(d, 2);
        click(d, 2);
    });
    const auto [result, entry] = module.select();
    QCOMPARE(result, 2);
    QCOMPARE(texts(entry), QStringList({"https://zuletzt.example.com/", "/z", "HttpsWorker.so"}));
}

void tst_ServerBook::missingStoreLeavesTheLastOutcome()
{
    ModuleFixture module;
    createStore(module.pluginDir(), kThreeRows);
    whenModal([](QWidget *d) { click(d, 1); });
    QCOMPARE(module.select().first, 1);

    QVERIFY(QFile::remove(module.storeFile()));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("kelvo\\.mdb.*nicht gefunden"));
    const auto [result, entry] = module.select();  // no dialog may appear: it would hang here
    QCOMPARE(result, 1);
    QCOMPARE(entry.strServer, QStringLiteral("http://anfang.example.com/"));
    QVERIFY(module.book()->GetLastServerBookError().contains(module.storeFile()));
    QVERIFY(!QFile::exists(module.storeFile()));  // nothing was created

    createStore(module.pluginDir());
    whenModal([](QWidget *d) { click(d, 2); });
    QCOMPARE(module.select().first, 2);
    QVERIFY(module.book()->GetLastServerBookError().isEmpty());
}

// Another program locks the file while the dialog runs: the delete fails with
// a message, the dialog goes on, and nothing is lost.
void tst_ServerBook::storeFailureWhileRunningIsShown()
{
    ModuleFixture module;
    const QString file = createStore(module.pluginDir(), kThreeRows);
    OutsideConnection outside(file);
    QString shown;
    whenModal([&](QWidget *d) {
        outside.exec("BEGIN EXCLUSIVE");
        whenModal([&shown](QWidget *question) {
            whenModal([&shown](QWidget *error) {
                shown = qobject_cast<QMessageBox *>(error)->text();
                QTest::keyClick(error, Qt::Key_Return);
            }, question);
            QTest::mouseClick(qobject_cast<QMessageBox *>(question)->button(QMessageBox::Yes), Qt::LeftButton);
        }, d);
        click(d, 3001);
        outside.exec("ROLLBACK");
        QCOMPARE(listLines(d), QStringList({"Anfang", "Mitte", "Zuletzt"}));
        click(d, 1);
    });
    QCOMPARE(module.select().first, 1);
    QVERIFY2(shown.contains("locked") && shown.contains("kelvo.mdb"), qPrintable(shown));
    QCOMPARE(outside.column("SELECT count(*) FROM Serverbook"), QStringList{"3"});
}

void tst_ServerBook::hostDefaultConnectionSurvives()
{
    ModuleFixture module;
    createStore(module.pluginDir(), kThreeRows);
    {
        QSqlDatabase hostDb = QSqlDatabase::addDatabase("QSQLITE");
        hostDb.setDatabaseName(":memory:");
        QVERIFY(hostDb.open());
    }
    const QStringList before = QSqlDatabase::connectionNames();
    whenModal([](QWidget *d) { click(d, 1); });
    QCOMPARE(module.select().first, 1);
    QCOMPARE(QSqlDatabase::connectionNames(), before);
    QVERIFY(QSqlDatabase::database().isOpen());
    QSqlDatabase::database().close();
    QSqlDatabase::removeDatabase(QSqlDatabase::defaultConnection);
}

QTEST_MAIN(tst_ServerBook)
#include "tst_serverbook.moc"
