#include "dialogdriver.h"

#include <QMessageBox>
#include <QTreeWidget>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

using namespace Ids;

namespace {

const QList<Row> kRows = {
    {"Mitte", "ftp://mitte.example.com/m/", "/m/", "FtpWorker.so"},
    {"Anfang", "http://anfang.example.com/", "/a", "HttpWorker.so"},
    {"Zuletzt", "https://zuletzt.example.com/", "/z", "HttpsWorker.so"},
};

// Opens the context menu on the selected line the way named, and checks it.
void openMenu(QWidget *book, const QString &how)
{
    auto *list = child<QListView>(book, List);
    list->setFocus();
    if (how == "right click")
        rightClickLine(book, list->currentIndex().row());
    else if (how == "menu key")
        QTest::keyClick(list, Qt::Key_Menu);
    else
        QTest::keyClick(list, Qt::Key_F10, Qt::ShiftModifier);
}

// Opens "Bearbeiten …" on line of the selection dialog through its context
// menu; act works the edit dialog and must end it.
void editLine(QWidget *book, int line, std::function<void(QWidget *edit)> act)
{
    clickLine(book, line);
    whenPopup([book, act](QWidget *menu) {
        whenModal([act](QWidget *edit) {
            QCOMPARE(edit->windowTitle(), QStringLiteral("Eintrag bearbeiten"));
            act(edit);
        }, book);
        chooseMenuEntry(menu, QStringLiteral("Bearbeiten …"));
    });
    rightClickLine(book, line);
}

QString comboText(QWidget *edit)
{
    return child<QComboBox>(edit, Worker)->currentText();
}

QStringList editFields(QWidget *edit)
{
    return {field(edit, Label)->text(), comboText(edit), field(edit, Address)->text(),
            field(edit, StartPath)->text()};
}

QStringList backupsOf(const ModuleFixture &module)
{
    return QDir(module.pluginDir() + "/DATA/backup").entryList(QDir::Files, QDir::Name);
}

const QStringList kWorkers = {"FtpWorker.so", "HttpWorker.so", "HttpsWorker.so", "FileWorker.so"};

} // namespace

// Editing and duplicating entries from the selection dialog's context menu,
// and the backups every change of the book is preceded by.
class tst_EditEntry : public QObject
{
    Q_OBJECT

private slots:
    // The user's settings (remembered window sizes) go to a folder of the test's.
    void initTestCase() { qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit()); }
    void cleanup() { verifyNothingLeftOpen(); }
    void selectionDialogGrowsAndRemembersItsSize();

    void contextMenuOpensEveryWay_data();
    void contextMenuOpensEveryWay();
    void contextMenuOnAnEmptyBook();
    void keysAreToldAndCtrlNMakesAnEntry();
    void editOpensWithTheStoredEntryAndWritesEveryField();
    void editOfAnEntryWhoseWorkerIsNotLoadedKeepsItsFile();
    void editFollowsTheAddressAndQuestionsTheProtocol();
    void cancelledEditChangesNothing();
    void editKeepsWhatWasTyped();
    void duplicateCopiesAndSelectsTheCopy();
    void oneBackupPerCallAndNoneForReading();
    void failingBackupStopsTheChange();
    void restoreByAnotherProgramMergesIn();
    void restoreFromTheDialog();
    void ownChangesUpdateTheListInPlace();

private:
    QTemporaryDir m_config;
};

void tst_EditEntry::contextMenuOpensEveryWay_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("right click") << "right click";
    QTest::newRow("menu key") << "menu key";
    QTest::newRow("shift+f10") << "shift+f10";
}

void tst_EditEntry::contextMenuOpensEveryWay()
{
    QFETCH(QString, how);
    KELVO_LOAD_MODULE(module, kWorkers);
    createStore(module.pluginDir(), kRows);
    whenModal([how](QWidget *book) {
        clickLine(book, 2);
        whenPopup([](QWidget *menu) {
            QCOMPARE(menuEntries(menu), QStringList({"Bearbeiten …", "Duplizieren", "Anmeldedaten …", "Verbindung prüfen …", "-", "Löschen", "-",
                                                     "Adresse kopieren", "Adresse einfügen …", "-", "Suchen …",
                                                     "-", "Importieren …", "Exportieren …", "-",
                                                     "Sicherung wiederherstellen …", "-", "Tastenkürzel …"}));
            menu->close();
        });
        openMenu(book, how);
        QCOMPARE(selectedLine(book), QStringLiteral("Zuletzt"));

        // F2 opens the editor at once.
        whenModal([](QWidget *edit) {
            QCOMPARE(edit->windowTitle(), QStringLiteral("Eintrag bearbeiten"));
            QCOMPARE(field(edit, Label)->text(), QStringLiteral("Zuletzt"));
            click(edit, 2);
        }, book);
        QTest::keyClick(child<QListView>(book, List), Qt::Key_F2);
        click(book, 2);
    });
    module.select();
}

// A larger window gives the list the room; buttons and details keep their
// places at the edges; the next opening has the size the user chose.
void tst_EditEntry::selectionDialogGrowsAndRemembersItsSize()
{
    KELVO_LOAD_MODULE(module);
    createStore(module.pluginDir(), kRows);
    QSize opened, reopened;
    whenModal([&opened](QWidget *book) {
        opened = book->size();
        QCOMPARE(book->minimumSize(), opened);
        const QRect list = child<QListView>(book, List)->geometry();
        const QRect ok = child<QPushButton>(book, 1)->geometry();
        const QRect server = child<QLineEdit>(book, Server)->geometry();
        const QRect newButton = child<QPushButton>(book, New)->geometry();
        book->resize(opened + QSize(200, 150));
        QCOMPARE(child<QListView>(book, List)->geometry(), list.adjusted(0, 0, 200, 150));
        QCOMPARE(child<QPushButton>(book, 1)->geometry(), ok.translated(200, 150));
        QCOMPARE(child<QLineEdit>(book, Server)->geometry(), server.adjusted(0, 150, 200, 150));
        QCOMPARE(child<QPushButton>(book, New)->geometry(), newButton.translated(0, 150));
        click(book, 2);
    });
    module.select();
    whenModal([&reopened](QWidget *book) {
        reopened = book->size();
        click(book, 2);
    });
    module.select();
    QCOMPARE(reopened, opened + QSize(200, 150));
}

// F1 tells every key of the list; Ctrl+N is "Neu ...".
void tst_EditEntry::keysAreToldAndCtrlNMakesAnEntry()
{
    KELVO_LOAD_MODULE(module);
    createStore(module.pluginDir());
    QString told;
    bool entryOpened = false;
    whenModal([&](QWidget *book) {
        auto *list = child<QListView>(book, List);
        list->setFocus();
        whenModal([&told](QWidget *box) {
            told = messageText(box);
            QTest::keyClick(box, Qt::Key_Return);
        }, book);
        QTest::keyClick(list, Qt::Key_F1);
        whenModal([&entryOpened](QWidget *entry) {
            entryOpened = entry->windowTitle() == QStringLiteral("Neuen Eintrag zu Serverbook hinzufügen");
            QTest::keyClick(entry, Qt::Key_Escape);
        }, book);
        QTest::keyClick(list, Qt::Key_N, Qt::ControlModifier);
        click(book, 2);
    });
    module.select();
    for (const char *line : {"F2\tBearbeiten …", "F3\tWeitersuchen", "\tNeu ...", "\tVerbindung prüfen …", "Esc\tAbbrechen"})
        QVERIFY2(told.contains(QString::fromUtf8(line)), qPrintable(told));
    QVERIFY(entryOpened);
}

void tst_EditEntry::contextMenuOnAnEmptyBook()
{
    KELVO_LOAD_MODULE(module);
    createStore(module.pluginDir());
    whenModal([](QWidget *book) {
        whenPopup([](QWidget *menu) {
            QCOMPARE(menuEntries(menu),
                     QStringList({"Bearbeiten … (aus)", "Duplizieren (aus)", "Anmeldedaten … (aus)", "Verbindung prüfen … (aus)", "-", "Löschen (aus)", "-",
                                  "Adresse kopieren (aus)", "Adresse einfügen …", "-", "Suchen …", "-",
                                  "Importieren …", "Exportieren …", "-", "Sicherung wiederherstellen …", "-",
                                  "Tastenkürzel …"}));
            menu->close();
        });
        openMenu(book, "menu key");
        QTest::keyClick(child<QListView>(book, List), Qt::Key_F2);  // nothing to edit: nothing opens
        click(book, 2);
    });
    module.select();
}

void tst_EditEntry::editOpensWithTheStoredEntryAndWritesEveryField()
{
    KELVO_LOAD_MODULE(module, kWorkers);
    createStore(module.pluginDir(), kRows);
    whenModal([](QWidget *book) {
        editLine(book, 1, [](QWidget *edit) {
            // Exactly as stored: no template filled in, the entry's worker chosen.
            QCOMPARE(editFields(edit), QStringList({"Mitte", "FTP-Publishing-Worker", "ftp://mitte.example.com/m/",
                                                    "/m/"}));
            retype(edit, Label, "Mitte neu");
            chooseWorker(edit, "HTTP-Publishing-Worker");
            QCOMPARE(field(edit, Address)->text(), QStringLiteral("http://www.example.com/"));
            retype(edit, Address, "http://neu.example.com/web/");
            QCOMPARE(field(edit, StartPath)->text(), QStringLiteral("/web/"));
            retype(edit, StartPath, "/web/html");
            click(edit, 1);
        });
        QCOMPARE(listLines(book), QStringList({"Anfang", "Mitte neu", "Zuletzt"}));
        QCOMPARE(selectedLine(book), QStringLiteral("Mitte neu"));
        QCOMPARE(details(book), QStringList({"http://neu.example.com/web/", "/web/html", "HttpWorker.so"}));
        click(book, 1);
    });
    const auto [result, entry] = module.select();
    QCOMPARE(result, 1);
    QCOMPARE(entry.strServer, QStringLiteral("http://neu.example.com/web/"));
    QCOMPARE(storedRows(module).first(), QStringLiteral("Mitte neu|http://neu.example.com/web/|/web/html|HttpWorker.so"));
}

void tst_EditEntry::editOfAnEntryWhoseWorkerIsNotLoadedKeepsItsFile()
{
    KELVO_LOAD_MODULE(module, {"FtpWorker.so"});
    createStore(module.pluginDir(), {{"Alt", "sftp://alt.example.com/", "/home", "SftpWorker.so"}});
    whenModal([](QWidget *book) {
        editLine(book, 0, [](QWidget *edit) {
            QCOMPARE(child<QComboBox>(edit, Worker)->currentIndex(), -1);
            QCOMPARE(editFields(edit), QStringList({"Alt", "", "sftp://alt.example.com/", "/home"}));
            retype(edit, Label, "Alt 2");
            click(edit, 1);  // no worker chosen: no protocol question
        });
        click(book, 1);
    });
    QCOMPARE(module.select().second.strPluginFile, QStringLiteral("SftpWorker.so"));
    QCOMPARE(storedRows(module), QStringList{"Alt 2|sftp://alt.example.com/|/home|SftpWorker.so"});
}

void tst_EditEntry::editFollowsTheAddressAndQuestionsTheProtocol()
{
    KELVO_LOAD_MODULE(module, kWorkers);
    createStore(module.pluginDir(), {{"Folgt", "ftp://f.example.com/pub/", "/pub/", "FtpWorker.so"},
                                     {"Eigen", "ftp://e.example.com/pub/", "/mein", "FtpWorker.so"}});
    bool asked = false;
    whenModal([&asked](QWidget *book) {
        // A start path equal to what the address gives follows it.
        editLine(book, 1, [&asked](QWidget *edit) {
            typeText(field(edit, Address), "x");
            QCOMPARE(field(edit, StartPath)->text(), QStringLiteral("/pub/x"));
            retype(edit, Address, "http://f.example.com/");
            whenModal([&asked](QWidget *question) {
                asked = messageText(question).contains("nicht kompatibel");
                answer(question, QMessageBox::No);
            }, edit);
            click(edit, 1);
            QVERIFY(edit->isVisible());  // No keeps it open
            click(edit, 2);
        });
        // One of the user's own stays put.
        editLine(book, 0, [](QWidget *edit) {
            typeText(field(edit, Address), "x");
            QCOMPARE(field(edit, StartPath)->text(), QStringLiteral("/mein"));
            click(edit, 2);
        });
        click(book, 2);
    });
    module.select();
    QVERIFY(asked);
}

void tst_EditEntry::cancelledEditChangesNothing()
{
    KELVO_LOAD_MODULE(module, kWorkers);
    createStore(module.pluginDir(), kRows);
    const QStringList before = storedRows(module);
    whenModal([](QWidget *book) {
        QSignalSpy relisted(child<QListView>(book, List)->model(), &QAbstractItemModel::modelReset);
        editLine(book, 2, [](QWidget *edit) {
            retype(edit, Label, "Anders");
            click(edit, 2);
        });
        QCOMPARE(relisted.count(), 0);
        QCOMPARE(selectedLine(book), QStringLiteral("Zuletzt"));
        click(book, 2);
    });
    module.select();
    QCOMPARE(storedRows(module), before);
    QVERIFY(backupsOf(module).isEmpty());
}

// Another program's change while the user edits: one elsewhere in the book
// lets the edit through without a word; one of the entry itself keeps what
// the user typed, to store as a new entry or to take up again.
void tst_EditEntry::editKeepsWhatWasTyped()
{
    KELVO_LOAD_MODULE(module, kWorkers);
    const QString file = createStore(module.pluginDir(), kRows);
    QStringList asked;
    auto answer = [&asked](QWidget *edit, QMessageBox::StandardButton button) {
        whenModal([&asked, button](QWidget *box) {
            QMessageBox *question = messageBoxIn(box);
            QVERIFY(question);
            asked << question->text();
            QTest::mouseClick(question->button(button), Qt::LeftButton);
        }, edit);
    };
    whenModal([&](QWidget *book) {
        // An unrelated entry added meanwhile: the edit is written.
        editLine(book, 2, [&](QWidget *edit) {
            OutsideConnection(file).exec("INSERT INTO Serverbook VALUES ('Fremd', 'ftp://fremd/', '/', '')");
            retype(edit, StartPath, "/z2");
            click(edit, 1);
        });
        QTRY_COMPARE(listLines(book), QStringList({"Anfang", "Fremd", "Mitte", "Zuletzt"}));

        // The entry deleted meanwhile: No takes the user back to their text.
        editLine(book, 2, [&](QWidget *edit) {
            OutsideConnection(file).exec("DELETE FROM Serverbook WHERE Bezeichnung = 'Mitte'");
            retype(edit, Label, "Mitte neu");
            answer(edit, QMessageBox::No);
            whenModal([](QWidget *again) {
                QCOMPARE(field(again, Label)->text(), QStringLiteral("Mitte neu"));
                QCOMPARE(field(again, Address)->text(), QStringLiteral("ftp://mitte.example.com/m/"));
                click(again, 2);
            }, book);
            click(edit, 1);
        });
        // The entry changed meanwhile: Yes stores the user's text as a new one.
        editLine(book, 0, [&](QWidget *edit) {
            OutsideConnection(file).exec("UPDATE Serverbook SET Servername = 'http://anders/' WHERE Bezeichnung = 'Anfang'");
            retype(edit, Label, "Anfang neu");
            answer(edit, QMessageBox::Yes);
            click(edit, 1);
        });
        QCOMPARE(selectedLine(book), QStringLiteral("Anfang neu"));
        click(book, 2);
    });
    module.select();
    QCOMPARE(asked.size(), 2);
    QVERIFY2(asked[0].contains("anderen Programm") && asked[0].contains("neuer Eintrag"), qPrintable(asked[0]));
    QCOMPARE(storedRows(module), QStringList({"Anfang|http://anders/|/a|HttpWorker.so",
                                              "Zuletzt|https://zuletzt.example.com/|/z2|HttpsWorker.so",
                                              "Fremd|ftp://fremd/|/|",
                                              "Anfang neu|http://anfang.example.com/|/a|HttpWorker.so"}));
}

void tst_EditEntry::duplicateCopiesAndSelectsTheCopy()
{
    KELVO_LOAD_MODULE(module, kWorkers);
    createStore(module.pluginDir(), {{"Gleich", "ftp://eins/", "/1", "FtpWorker.so"},
                                     {"Gleich", "ftp://zwei/", "/2", "FtpWorker.so"}});
    whenModal([](QWidget *book) {
        clickLine(book, 1);
        whenPopup([](QWidget *menu) { chooseMenuEntry(menu, "Duplizieren"); });
        openMenu(book, "right click");
        QCOMPARE(listLines(book), QStringList({"Gleich", "Gleich", "Gleich (Kopie)"}));
        QCOMPARE(selectedLine(book), QStringLiteral("Gleich (Kopie)"));
        QCOMPARE(details(book), QStringList({"ftp://zwei/", "/2", "FtpWorker.so"}));
        click(book, 1);
    });
    QCOMPARE(module.select().second.strServer, QStringLiteral("ftp://zwei/"));
    QCOMPARE(storedRows(module).last(), QStringLiteral("Gleich (Kopie)|ftp://zwei/|/2|FtpWorker.so"));
}

// Two changes in one call make one backup, of the book before them; a call
// that only reads makes none.
void tst_EditEntry::oneBackupPerCallAndNoneForReading()
{
    KELVO_LOAD_MODULE(module, kWorkers);
    createStore(module.pluginDir(), kRows);
    whenModal([](QWidget *book) {
        clickLine(book, 2);
        click(book, 1);
    });
    module.select();
    QVERIFY(!QFileInfo::exists(module.pluginDir() + "/DATA/backup"));

    whenModal([](QWidget *book) {
        whenPopup([](QWidget *menu) { chooseMenuEntry(menu, "Duplizieren"); });
        openMenu(book, "menu key");
        whenPopup([](QWidget *menu) { chooseMenuEntry(menu, "Duplizieren"); });
        openMenu(book, "menu key");
        click(book, 2);
    });
    module.select();
    const QStringList backups = backupsOf(module);
    QCOMPARE(backups.size(), 1);
    QCOMPARE(OutsideConnection(module.pluginDir() + "/DATA/backup/" + backups[0])
                 .column("SELECT count(*) FROM Serverbook"), QStringList{"3"});
    QCOMPARE(storedRows(module).size(), 5);
}

// A file where the backup folder belongs: the change is refused with the
// reason and the book stays as it was.
void tst_EditEntry::failingBackupStopsTheChange()
{
    KELVO_LOAD_MODULE(module, kWorkers);
    createStore(module.pluginDir(), kRows);
    QFile blocker(module.pluginDir() + "/DATA/backup");
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QStringList before = storedRows(module);
    QString shown;
    whenModal([&shown](QWidget *book) {
        deleteExpectingMessage(book, &shown);
        QCOMPARE(listLines(book).size(), 3);
        click(book, 2);
    });
    module.select();
    QVERIFY2(shown.contains("Sicherung") && shown.contains("nichts wurde geändert"), qPrintable(shown));
    QCOMPARE(storedRows(module), before);
}

// kelvo-book restores an older state while the dialog is open: the entry
// it brings back appears without a word, and the lines still lead to their
// entries.
void tst_EditEntry::restoreByAnotherProgramMergesIn()
{
    KELVO_LOAD_MODULE(module, kWorkers);
    createStore(module.pluginDir(), kRows);
    auto kelvoBook = [&module](const QStringList &args) {
        QProcess tool;
        tool.start(KELVO_TOOLS_DIR "/kelvo-book", QStringList{"--plugin-dir", module.pluginDir()} + args);
        tool.waitForFinished(20000);
        return QString::fromUtf8(tool.readAllStandardOutput());
    };
    kelvoBook({"delete", "0"});
    const QString backup = kelvoBook({"backups"}).split('\t').first();
    whenModal([&](QWidget *book) {
        QCOMPARE(listLines(book), QStringList({"Anfang", "Zuletzt"}));
        clickLine(book, 1);
        QVERIFY(kelvoBook({"restore", backup}).contains("3"));
        QTRY_COMPARE(listLines(book), QStringList({"Anfang", "Mitte", "Zuletzt"}));
        QCOMPARE(selectedLine(book), QStringLiteral("Zuletzt"));
        clickLine(book, 1);
        QCOMPARE(details(book), QStringList({"ftp://mitte.example.com/m/", "/m/", "FtpWorker.so"}));
        click(book, 1);
    });
    QCOMPARE(module.select().second.strServer, QStringLiteral("ftp://mitte.example.com/m/"));
}

// The dialog's own add and delete change the list in place, with every line
// still leading to its row; another program's change merges in line by line
// too, without listing the book afresh.
void tst_EditEntry::ownChangesUpdateTheListInPlace()
{
    KELVO_LOAD_MODULE(module, kWorkers);
    const QString file = createStore(module.pluginDir(), kRows);
    whenModal([&file](QWidget *book) {
        QSignalSpy relisted(child<QListView>(book, List)->model(), &QAbstractItemModel::modelReset);
        whenModal([](QWidget *question) {
            answer(question, QMessageBox::Yes);
        }, book);
        clickLine(book, 0);  // Anfang, the second row: the rows after it move up
        click(book, Delete);
        whenPopup([](QWidget *menu) { chooseMenuEntry(menu, "Duplizieren"); });
        clickLine(book, 0);
        rightClickLine(book, 0);
        QCOMPARE(relisted.count(), 0);
        QCOMPARE(listLines(book), QStringList({"Mitte", "Mitte (Kopie)", "Zuletzt"}));
        for (int line = 0; line < 3; ++line) {
            clickLine(book, line);
            QCOMPARE(details(book)[0], line == 2 ? QStringLiteral("https://zuletzt.example.com/")
                                                 : QStringLiteral("ftp://mitte.example.com/m/"));
        }

        // Another program's entry merges in; the dialog's own changes go on.
        OutsideConnection(file).exec("INSERT INTO Serverbook VALUES ('Fremd', 'ftp://fremd/', '/', '')");
        QTRY_COMPARE(listLines(book), QStringList({"Fremd", "Mitte", "Mitte (Kopie)", "Zuletzt"}));
        QCOMPARE(relisted.count(), 0);
        whenPopup([](QWidget *menu) { chooseMenuEntry(menu, "Duplizieren"); });
        clickLine(book, 3);
        rightClickLine(book, 3);
        QCOMPARE(listLines(book), QStringList({"Fremd", "Mitte", "Mitte (Kopie)", "Zuletzt", "Zuletzt (Kopie)"}));
        click(book, 2);
    });
    module.select();
}

// The dialog's restore: the backups with what restoring each would change,
// a question that No answers without a change, and after Yes the book as it
// was and the list with it. Another program's listing of the book still leads
// to its entries, which the restore brought back under their rowids.
void tst_EditEntry::restoreFromTheDialog()
{
    KELVO_LOAD_MODULE(module, kWorkers);
    createStore(module.pluginDir(), kRows);
    {
        CServerBookStore store;
        store.Open(module.storeFile());
        QVERIFY(store.PositionAt(0));
        QVERIFY(store.DeleteCurrent());  // "Mitte"
    }
    CServerBookStore other;
    other.Open(module.storeFile());
    QCOMPARE(other.ListAll().size(), 2u);

    auto restoreAnswering = [](QWidget *book, QMessageBox::StandardButton answer, QString *asked) {
        whenPopup([book, answer, asked](QWidget *menu) {
            whenModal([answer, asked](QWidget *restore) {
                QCOMPARE(restore->windowTitle(), QStringLiteral("Sicherung wiederherstellen"));
                auto *list = restore->findChild<QTreeWidget *>("backups");
                QCOMPARE(list->topLevelItemCount(), 1);
                QCOMPARE(list->topLevelItem(0)->text(1), QStringLiteral("3"));
                QCOMPARE(list->topLevelItem(0)->text(2), QStringLiteral("+1 / \u22120 / 0 geändert"));
                // A screen reader reads words, not symbols.
                QCOMPARE(list->topLevelItem(0)->data(2, Qt::AccessibleTextRole).toString(),
                         QStringLiteral("1 kommt zurück, 0 gehen, 0 geändert"));
                whenModal([answer, asked](QWidget *question) {
                    QMessageBox *box = messageBoxIn(question);
                    QVERIFY(box);
                    *asked = box->text();
                    // Nothing is replaced by a key pressed too soon.
                    QCOMPARE(box->defaultButton(), box->button(QMessageBox::No));
                    QTest::mouseClick(box->button(answer), Qt::LeftButton);
                }, restore);
                QTest::keyClick(list, Qt::Key_Return);
            }, book);
            chooseMenuEntry(menu, QStringLiteral("Sicherung wiederherstellen …"));
        });
        openMenu(book, "menu key");
    };
    QString asked;
    whenModal([&](QWidget *book) {
        restoreAnswering(book, QMessageBox::No, &asked);
        QCOMPARE(listLines(book), QStringList({"Anfang", "Zuletzt"}));
        QCOMPARE(storedRows(module).size(), 2);
        restoreAnswering(book, QMessageBox::Yes, &asked);
        QCOMPARE(listLines(book), QStringList({"Anfang", "Mitte", "Zuletzt"}));
        // The keys go on working on the list.
        QCOMPARE(book->focusWidget(), child<QListView>(book, List));
        clickLine(book, 1);
        QCOMPARE(details(book), QStringList({"ftp://mitte.example.com/m/", "/m/", "FtpWorker.so"}));
        click(book, 1);
    });
    const auto [result, entry] = module.select();
    QCOMPARE(result, 1);
    QCOMPARE(entry.strServer, QStringLiteral("ftp://mitte.example.com/m/"));
    QVERIFY2(asked.contains("es ändert sich: 1 kommt zurück, 0 gehen, 0 geändert.") && asked.contains("vorher gesichert"),
             qPrintable(asked));
    QCOMPARE(storedRows(module).first(), QStringLiteral("Mitte|ftp://mitte.example.com/m/|/m/|FtpWorker.so"));
    // The restore brought rows back with their rowids: the other listing's
    // entries still lead to theirs, and it sees that the book changed.
    QVERIFY(other.ChangedSinceListing());
    QVERIFY(other.PositionAt(0));
    QCOMPARE(other.GetFieldText("Bezeichnung"), QStringLiteral("Anfang"));
    QVERIFY(other.RowUnchanged(other.CurrentRow()));
    // The backup restored from stays, beside the one of the state it replaced.
    QCOMPARE(backupsOf(module).size(), 2);
}

QTEST_MAIN(tst_EditEntry)
#include "tst_editentry.moc"
