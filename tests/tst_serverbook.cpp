#include "dialogdriver.h"

#include <QLabel>
#include <QLibrary>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QtTest>

#include <thread>

namespace {

enum class DeleteBy { Button, Key };

// Clicks "Löschen", or presses Delete in the list, and answers the question
// (in German to its buttons) with yes or no.
void deleteSelected(QWidget *dialog, bool yes, DeleteBy by = DeleteBy::Button)
{
    whenModal([yes](QWidget *box) {
        auto *question = qobject_cast<QMessageBox *>(box);
        QVERIFY(question);
        QCOMPARE(question->text(), QStringLiteral("Das Löschen der Adresse ist nicht rückgängig zu machen!\n"
                                                  "Soll wirklich gelöscht werden?"));
        QCOMPARE(question->defaultButton(), question->button(QMessageBox::Yes));
        QCOMPARE(question->button(QMessageBox::Yes)->text(), QStringLiteral("&Ja"));
        QCOMPARE(question->button(QMessageBox::No)->text(), QStringLiteral("&Nein"));
        QTest::mouseClick(question->button(yes ? QMessageBox::Yes : QMessageBox::No), Qt::LeftButton);
    }, dialog);
    if (by == DeleteBy::Key)
        QTest::keyClick(child<QListView>(dialog, 3000), Qt::Key_Delete);
    else
        click(dialog, 3001);
}

// Expects, over below, the message that the entry behind a line was changed
// or deleted by another program, and confirms it.
void confirmEntryGone(QWidget *below, int *seen)
{
    whenModal([seen](QWidget *box) {
        auto *message = qobject_cast<QMessageBox *>(box);
        QVERIFY(message);
        QVERIFY2(message->text().contains("von einem anderen Programm geändert oder gelöscht"),
                 qPrintable(message->text()));
        QCOMPARE(message->standardButtons(), QMessageBox::Ok);
        ++*seen;
        QTest::keyClick(box, Qt::Key_Return);
    }, below);
}

// Closes, and counts, any modal dialog that appears where none may.
void countUnexpectedDialogs(int *count)
{
    whenModal([count](QWidget *dialog) {
        ++*count;
        dialog->close();
    });
}

const QList<Row> kFourRows = {{"e0", "ftp://e0/", "/0", "FtpWorker.so"}, {"e1", "ftp://e1/", "/1", "FtpWorker.so"},
                              {"e2", "ftp://e2/", "/2", "FtpWorker.so"}, {"e3", "ftp://e3/", "/3", "FtpWorker.so"}};

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
    void otherThreadIsRefused();
    void deceptiveEntryIsMarkedAndAskedFor();
    void cleanup();

    void beforeAnySelectionTheLastEntryIsEmpty();
    void identityAndNullPointers();
    void aboutBox();
    void linesAreSortedAndLeadToTheirRows();
    void largeBookKeepsItsOrderButNeverAStaleOne();
    void cancelKeepsTheShownEntry();
    void emptyBookShowsPlaceholders();
    void deleteAskedAndAnswered();
    void duplicateLabelsKeepTheirRows();
    void secondCallOverwritesTheFirst();
    void missingStoreLeavesTheLastOutcome();
    void storeFailureWhileRunningIsShown();
    void hostDefaultConnectionSurvives();

    void goneEntryIsNeverShownReturnedOrDeleted_data();
    void goneEntryIsNeverShownReturnedOrDeleted();
    void changeByTheSqliteShellIsNoticed();
    void clicksBesideTheLinesKeepTheSelection();
    void labelsNotInUtf8StillLeadToTheirRows();
    void unlistableBookIsNotShown_data();
    void unlistableBookIsNotShown();
    void failureOutsideTheStoreLeavesAReason();
};

void tst_ServerBook::cleanup()
{
    verifyNothingLeftOpen();
}

// Runs first: the module was just loaded.
void tst_ServerBook::beforeAnySelectionTheLastEntryIsEmpty()
{
    KELVO_LOAD_MODULE(module);
    SERVERBOOKENTRYSTRUC entry{"x", "y", "z"};
    QCOMPARE(module.book()->GetLastServerBookEntry(&entry), 0);
    QCOMPARE(texts(entry), QStringList({"", "", ""}));
}

void tst_ServerBook::identityAndNullPointers()
{
    KELVO_LOAD_MODULE(module);
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
    KELVO_LOAD_MODULE(module);
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
    KELVO_LOAD_MODULE(module);
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

// A large book's sorted order is kept beside it for the next call, and is
// taken only for the very listing it was made for: after another program's
// change, and with a damaged file, the list is sorted afresh and every line
// still leads to its own row.
void tst_ServerBook::largeBookKeepsItsOrderButNeverAStaleOne()
{
    KELVO_LOAD_MODULE(module);
    const QString file = createStore(module.pluginDir());
    const QString orderFile = CServerBookStore::ListingOrderFile(file);
    OutsideConnection outside(file);
    // Labels in an order of their own: 7919 and 5000 have no common divisor.
    outside.exec("WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 4999) "
                 "INSERT INTO Serverbook SELECT printf('Eintrag %04d', (i * 7919) % 5000), "
                 "printf('ftp://h%d.example/', i), '/', 'FtpWorker.so' FROM n");
    const auto showFirst = [&module](const QString &label, const QString &server) {
        whenModal([&](QWidget *d) {
            const QStringList lines = listLines(d);
            QCOMPARE(lines.size(), 5000);
            QCOMPARE(lines.front(), label);
            QVERIFY(std::is_sorted(lines.begin() + 1, lines.end()));
            QCOMPARE(details(d).front(), server);
            click(d, 1);
        });
        const auto [result, entry] = module.select();
        QCOMPARE(result, 1);
        QCOMPARE(entry.strServer, server);
    };
    // Row i holds label (i * 7919) % 5000: "Eintrag 0000" is row 0.
    showFirst("Eintrag 0000", "ftp://h0.example/");
    QVERIFY(QFile::exists(orderFile));

    outside.exec("UPDATE Serverbook SET Bezeichnung = 'Aaa' WHERE rowid = 4000");
    showFirst("Aaa", "ftp://h3999.example/");
    showFirst("Aaa", "ftp://h3999.example/");

    QFile damaged(orderFile);
    QVERIFY(damaged.open(QIODevice::ReadWrite));
    QVERIFY(damaged.seek(44));
    damaged.write("\xff\xff\xff\xff");
    damaged.close();
    showFirst("Aaa", "ftp://h3999.example/");
}

void tst_ServerBook::cancelKeepsTheShownEntry()
{
    KELVO_LOAD_MODULE(module);
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
    KELVO_LOAD_MODULE(module);
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
    KELVO_LOAD_MODULE(module);
    const QString file = createStore(module.pluginDir(), kThreeRows);
    whenModal([](QWidget *d) {
        clickLine(d, 1);  // Mitte
        deleteSelected(d, false);
        QCOMPARE(listLines(d), QStringList({"Anfang", "Mitte", "Zuletzt"}));
        QCOMPARE(selectedLine(d), QStringLiteral("Mitte"));

        deleteSelected(d, true, DeleteBy::Key);
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
    // The German texts were the dialog's; the host's own are as before.
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "&Yes"), QStringLiteral("&Yes"));
    QCOMPARE(OutsideConnection(file).column("SELECT count(*) FROM Serverbook"), QStringList{"0"});
}

void tst_ServerBook::duplicateLabelsKeepTheirRows()
{
    KELVO_LOAD_MODULE(module);
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
    KELVO_LOAD_MODULE(module);
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
    KELVO_LOAD_MODULE(module);
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
    KELVO_LOAD_MODULE(module);
    const QString file = createStore(module.pluginDir(), kThreeRows);
    OutsideConnection outside(file);
    QString shown;
    whenModal([&](QWidget *d) {
        outside.exec("BEGIN EXCLUSIVE");
        deleteExpectingMessage(d, &shown);
        outside.exec("ROLLBACK");
        QCOMPARE(listLines(d), QStringList({"Anfang", "Mitte", "Zuletzt"}));
        click(d, 1);
    });
    QCOMPARE(module.select().first, 1);
    QVERIFY2(shown.contains("locked") && shown.contains("kelvo.mdb"), qPrintable(shown));
    QCOMPARE(outside.column("SELECT count(*) FROM Serverbook"), QStringList{"3"});
}

// An entry whose label and host mix Cyrillic letters into Latin words, and
// whose start path turns the writing direction: the details show it marked,
// and OK hands it back only when the user says so after seeing why.
void tst_ServerBook::deceptiveEntryIsMarkedAndAskedFor()
{
    KELVO_LOAD_MODULE(module);
    const QString path = QStringLiteral("/www/\u202Egnp.exe");
    createStore(module.pluginDir(), {{QStringLiteral("\u0410pple"), QStringLiteral("ftp://\u0430pple.example/"), path, "FtpWorker.so"}});
    QStringList asked;
    whenModal([&](QWidget *book) {
        QCOMPARE(details(book).mid(0, 2),
                 QStringList({QStringLiteral("⚠ ftp://\u0430pple.example/"), QStringLiteral("/www/⟨U+202E⟩gnp.exe")}));
        for (const auto button : {QMessageBox::No, QMessageBox::Yes}) {
            whenModal([&asked, button](QWidget *box) {
                asked << messageText(box);
                answer(box, button);
            }, book);
            click(book, 1);
        }
    });
    const auto [result, entry] = module.select();
    QCOMPARE(result, 1);
    QCOMPARE(entry.strServer, QStringLiteral("ftp://\u0430pple.example/"));
    QCOMPARE(entry.strStartDir, path);
    QCOMPARE(asked.size(), 2);
    QVERIFY2(asked[0].contains("Bezeichnung") && asked[0].contains("Server") && asked[0].contains("Schreibrichtung")
                 && asked[0].contains("⟨U+202E⟩"),
             qPrintable(asked[0]));
}

// A host that calls from a thread of its own gets -1 and the reason, never a
// dialog on that thread, nor the entry of an earlier call.
void tst_ServerBook::otherThreadIsRefused()
{
    KELVO_LOAD_MODULE(module);
    createStore(module.pluginDir(), kThreeRows);
    whenModal([](QWidget *d) { click(d, 1); });
    QCOMPARE(module.select().first, 1);
    std::thread([&module] { module.book()->ShowServerBook(0); }).join();
    SERVERBOOKENTRYSTRUC entry;
    QCOMPARE(module.book()->GetLastServerBookEntry(&entry), -1);
    QVERIFY(entry.strServer.isEmpty());
    QVERIFY2(module.book()->GetLastServerBookError().contains("Thread"), qPrintable(module.book()->GetLastServerBookError()));
    QVERIFY(QApplication::topLevelWidgets().isEmpty());
}

void tst_ServerBook::hostDefaultConnectionSurvives()
{
    KELVO_LOAD_MODULE(module);
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

// Another program changes the book while the dialog is open: a line whose row
// was deleted, replaced under the same rowid or renumbered by VACUUM leads to
// nothing. Selecting it, OK on it and deleting it all tell the user, list the
// book afresh and leave the dialog open; nothing is deleted, and the dialog
// ends only with the entry whose details it shows.
void tst_ServerBook::goneEntryIsNeverShownReturnedOrDeleted_data()
{
    QTest::addColumn<QStringList>("change");
    QTest::addColumn<int>("line");  // the line the user acts on, listed before the change
    QTest::addColumn<QString>("action");
    QTest::addColumn<QStringList>("linesAfter");

    const QStringList reuse = {"DELETE FROM Serverbook WHERE Bezeichnung = 'e3'",
                               "INSERT INTO Serverbook VALUES ('fremd', 'ftp://fremd/', '/f', 'FtpWorker.so')"};
    const QStringList vacuum = {"DELETE FROM Serverbook WHERE Bezeichnung = 'e1'", "VACUUM"};
    const QStringList remove = {"DELETE FROM Serverbook WHERE Bezeichnung = 'e1'"};
    for (const QString action : {"select", "ok", "delete"}) {
        QTest::addRow("rowid reused, %s", qPrintable(action))
            << reuse << 3 << action << QStringList{"e0", "e1", "e2", "fremd"};
        QTest::addRow("vacuum renumbers, %s", qPrintable(action))
            << vacuum << 2 << action << QStringList{"e0", "e2", "e3"};
        QTest::addRow("selected row deleted, %s", qPrintable(action))
            << remove << 1 << action << QStringList{"e0", "e2", "e3"};
    }
}

void tst_ServerBook::goneEntryIsNeverShownReturnedOrDeleted()
{
    QFETCH(QStringList, change);
    QFETCH(int, line);
    QFETCH(QString, action);
    QFETCH(QStringList, linesAfter);

    KELVO_LOAD_MODULE(module);
    const QString file = createStore(module.pluginDir(), kFourRows);
    OutsideConnection outside(file);
    int gone = 0;
    whenModal([&](QWidget *d) {
        // The user looks at the line first, unless selecting it is the act.
        clickLine(d, action == "select" ? 0 : line);
        for (const QString &statement : change)
            outside.exec(statement);

        if (action == "select") {
            confirmEntryGone(d, &gone);
            clickLine(d, line);
        } else if (action == "ok") {
            confirmEntryGone(d, &gone);
            click(d, 1);
        } else {
            whenModal([&gone](QWidget *question) {
                confirmEntryGone(question, &gone);
                answer(question, QMessageBox::Yes);
            }, d);
            click(d, 3001);
        }
        QCOMPARE(gone, 1);
        QVERIFY(d->isVisible());
        QCOMPARE(listLines(d), linesAfter);
        QCOMPARE(selectedLine(d), QStringLiteral("e0"));
        QCOMPARE(details(d), QStringList({"ftp://e0/", "/0", "FtpWorker.so"}));
        click(d, 1);
    });
    const auto [result, entry] = module.select();
    QCOMPARE(result, 1);
    QCOMPARE(texts(entry), QStringList({"ftp://e0/", "/0", "FtpWorker.so"}));
    QStringList stored = outside.column("SELECT Bezeichnung FROM Serverbook");
    stored.sort();
    QCOMPARE(stored, linesAfter);
}

// The other program is a real second process: the sqlite3 shell.
void tst_ServerBook::changeByTheSqliteShellIsNoticed()
{
    KELVO_LOAD_MODULE(module);
    const QString file = createStore(module.pluginDir(), kFourRows);
    int gone = 0;
    whenModal([&](QWidget *d) {
        clickLine(d, 3);
        QProcess shell;
        shell.start("sqlite3", {file, "DELETE FROM Serverbook WHERE Bezeichnung = 'e3'; "
                                      "INSERT INTO Serverbook VALUES ('fremd', 'ftp://fremd/', '/', '');"});
        QVERIFY2(shell.waitForFinished(10000) && shell.exitCode() == 0, shell.readAllStandardError().constData());
        confirmEntryGone(d, &gone);
        click(d, 1);
        QCOMPARE(gone, 1);
        QCOMPARE(listLines(d), QStringList({"e0", "e1", "e2", "fremd"}));
        click(d, 2);
    });
    const auto [result, entry] = module.select();
    QCOMPARE(result, 2);
    QCOMPARE(entry.strServer, QStringLiteral("ftp://e0/"));
}

// Clicks beside the lines, Ctrl+clicks and Ctrl+Space leave the selection and
// its details, so OK never hands back empty texts from a book with entries.
void tst_ServerBook::clicksBesideTheLinesKeepTheSelection()
{
    KELVO_LOAD_MODULE(module);
    createStore(module.pluginDir(), kThreeRows);
    whenModal([](QWidget *d) {
        auto *list = child<QListView>(d, 3000);
        clickLine(d, 1);
        const QPoint blank(10, list->viewport()->height() - 3);
        QVERIFY(!list->indexAt(blank).isValid());
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, blank);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier,
                          list->visualRect(list->model()->index(1, 0)).center());
        QTest::keyClick(list, Qt::Key_Space, Qt::ControlModifier);
        QCOMPARE(selectedLine(d), QStringLiteral("Mitte"));
        QCOMPARE(details(d), QStringList({"ftp://mitte.example.com/", "/m", "FtpWorker.so"}));
        QVERIFY(child(d, 3001)->isEnabled());
        click(d, 1);
    });
    const auto [result, entry] = module.select();
    QCOMPARE(result, 1);
    QCOMPARE(texts(entry), QStringList({"ftp://mitte.example.com/", "/m", "FtpWorker.so"}));
}

// Another program stored a label in Windows-1252 bytes: the line shows it as
// well as it can, and still leads to its row instead of counting as changed.
void tst_ServerBook::labelsNotInUtf8StillLeadToTheirRows()
{
    KELVO_LOAD_MODULE(module);
    const QString file = createStore(module.pluginDir(), kThreeRows);
    OutsideConnection(file).exec("INSERT INTO Serverbook VALUES (CAST(X'DC62756E67' AS TEXT), "
                                 "'ftp://uebung/', '/', 'FtpWorker.so')");
    whenModal([](QWidget *d) {
        QCOMPARE(listLines(d).size(), 4);
        clickLine(d, 3);
        QCOMPARE(details(d)[0], QStringLiteral("ftp://uebung/"));
        click(d, 1);
    });
    QCOMPARE(module.select().second.strServer, QStringLiteral("ftp://uebung/"));
}

// A book that opens but cannot be listed is reported like one that cannot be
// opened: no dialog, the last outcome kept, the reason for the host.
void tst_ServerBook::unlistableBookIsNotShown_data()
{
    QTest::addColumn<QString>("schema");
    QTest::addColumn<QString>("reason");
    QTest::newRow("table without rowid")
        << "CREATE TABLE Serverbook (Bezeichnung TEXT PRIMARY KEY, Servername, Startverzeichnis, "
           "Plugindateiname) WITHOUT ROWID"
        << "nicht auflisten";
    QTest::newRow("a view") << "CREATE VIEW Serverbook AS SELECT 'a' AS Bezeichnung, 'b' AS Servername, "
                               "'c' AS Startverzeichnis, 'd' AS Plugindateiname"
                            << "keine Tabelle";
    QTest::newRow("corrupt page") << QString() << "malformed";
}

void tst_ServerBook::unlistableBookIsNotShown()
{
    QFETCH(QString, schema);
    QFETCH(QString, reason);
    KELVO_LOAD_MODULE(module);
    createStore(module.pluginDir(), kThreeRows);
    whenModal([](QWidget *d) { click(d, 1); });
    QCOMPARE(module.select().first, 1);

    QVERIFY(QFile::remove(module.storeFile()));
    if (!schema.isEmpty()) {
        OutsideConnection(module.storeFile()).exec(schema);
    } else {
        QList<Row> rows;
        for (int i = 0; i < 2000; ++i)
            rows.append({QStringLiteral("Eintrag %1").arg(i), QString(60, 'x'), "/", "FtpWorker.so"});
        createStore(module.pluginDir(), rows);
        // Scribble over pages in the middle of the table, keeping the schema page.
        QFile f(module.storeFile());
        QVERIFY(f.open(QIODevice::ReadWrite));
        f.seek(10 * 4096);
        f.write(QByteArray(4 * 4096, '\xA5'));
    }
    int dialogs = 0;
    countUnexpectedDialogs(&dialogs);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(reason));
    const auto [result, entry] = module.select();
    QCOMPARE(dialogs, 0);
    discardModalActions();
    QCOMPARE(result, 1);
    QCOMPARE(entry.strServer, QStringLiteral("http://anfang.example.com/"));
    const QString error = module.book()->GetLastServerBookError();
    QVERIFY2(error.contains(reason) && error.contains("kelvo.mdb"), qPrintable(error));
}

// A failure that is no store error, here running out of memory while the
// dialog is made, still leaves a reason and the last outcome.
void tst_ServerBook::failureOutsideTheStoreLeavesAReason()
{
    KELVO_LOAD_MODULE(module, {}, KELVO_TEST_PLUGIN_DIR "/fault");
    createStore(module.pluginDir(), kThreeRows);
    whenModal([](QWidget *d) { click(d, 1); });
    QCOMPARE(module.select().first, 1);

    qputenv("KELVO_FAIL_BUILDING_DIALOG", "1");
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("bad_alloc"));
    const auto [result, entry] = module.select();
    qunsetenv("KELVO_FAIL_BUILDING_DIALOG");
    QCOMPARE(result, 1);
    QCOMPARE(entry.strServer, QStringLiteral("http://anfang.example.com/"));
    QVERIFY2(module.book()->GetLastServerBookError().contains("bad_alloc"),
             qPrintable(module.book()->GetLastServerBookError()));
}

QTEST_MAIN(tst_ServerBook)
#include "tst_serverbook.moc"
