#include "addresslimit.h"
#include "cserverbookstore.h"
#include "storefixture.h"
#include "storeerror.h"

#include <QFileInfo>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/resource.h>

#include <unistd.h>

class tst_Store : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void emptyTable();
    void listsInRowOrderAndPositionsByOrdinal();
    void deletingTheOnlyRowEmptiesTheTable();
    void appendAddsExactlyOneRow();
    void textsRoundTrip_data();
    void textsRoundTrip();
    void missingValuesReadAsEmptyText();
    void outsideChangesAreGuardedByContent_data();
    void outsideChangesAreGuardedByContent();
    void ownChangesKeepTheListing();
    void listingDecodesAsFieldsDo();
    void listingReadsRowsStillInTheLog();
    void commitDuringAListingMarksItStale();
    void listingRoomFollowsTheLabelsNotTheFile();
    void changesCompareStoredValues();
    void failedAppendLeavesTheTableAsItWas();
    void extraColumnsSurvive();
    void largeFurtherColumnsStayUnread();
    void badFiles_data();
    void badFiles();
    void lockedDatabaseFailsInsteadOfHanging();
    void corruptTableFailsTheListing();
    void readOnlyFileFailsOnWrite();
    void storesOnOneFileAreIndependent();
    void pathsTooLongForSqliteAreRefused();
    void createRefusesAnExistingFile();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void tst_Store::init()
{
    // Any Qt warning, such as a connection removed while still in use, is a fault.
    QTest::failOnWarning(QRegularExpression(".*"));
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

static QStringList labels(const std::vector<CServerBookStore::ListedEntry> &entries)
{
    QStringList result;
    for (const auto &entry : entries)
        result << QStringLiteral("%1:%2").arg(entry.label).arg(entry.ordinal);
    return result;
}

void tst_Store::emptyTable()
{
    CServerBookStore store;
    store.Open(createStore(m_dir->path()));
    QVERIFY(store.IsBOF());
    QVERIFY(store.IsEOF());
    QVERIFY(store.ListAll().empty());
    QVERIFY(!store.PositionAt(0));
    QVERIFY(!store.DeleteCurrent());  // nothing to delete, nothing happens
    QVERIFY(store.ListAll().empty());
}

void tst_Store::listsInRowOrderAndPositionsByOrdinal()
{
    CServerBookStore store;
    store.Open(createStore(m_dir->path(), {{"Beta", "ftp://b/", "/b", "FtpWorker.so"},
                                           {"Alpha", "http://a/", "/a", "HttpWorker.so"},
                                           {"Gamma", "C:\\g", "C:\\g", "FileWorker.so"}}));
    QCOMPARE(labels(store.ListAll()), QStringList({"Beta:0", "Alpha:1", "Gamma:2"}));
    QVERIFY(store.IsEOF());

    QVERIFY(store.PositionAt(1));
    QCOMPARE(store.GetFieldText("Bezeichnung"), QStringLiteral("Alpha"));
    QCOMPARE(store.GetFieldText("Servername"), QStringLiteral("http://a/"));
    QCOMPARE(store.GetFieldText("Startverzeichnis"), QStringLiteral("/a"));
    QCOMPARE(store.GetFieldText("Plugindateiname"), QStringLiteral("HttpWorker.so"));
    QVERIFY(store.PositionAt(0));
    QCOMPARE(store.GetFieldText("Bezeichnung"), QStringLiteral("Beta"));
    QVERIFY(store.PositionAt(2));
    QCOMPARE(store.GetFieldText("Servername"), QStringLiteral("C:\\g"));
    QVERIFY(!store.PositionAt(3));
    QVERIFY(store.IsEOF());

    // Plain cursor movement walks the same order.
    store.MoveFirst();
    QVERIFY(!store.IsBOF());
    store.MoveNext();
    QCOMPARE(store.GetFieldText("Bezeichnung"), QStringLiteral("Alpha"));
    store.Move(0);
    QCOMPARE(store.GetFieldText("Bezeichnung"), QStringLiteral("Alpha"));
    store.Move(1);
    store.MoveNext();
    QVERIFY(store.IsEOF());
    QVERIFY_THROWS_EXCEPTION(StoreError, store.GetFieldText("Bezeichnung"));
}

void tst_Store::deletingTheOnlyRowEmptiesTheTable()
{
    CServerBookStore store;
    store.Open(createStore(m_dir->path(), {{"Only", "ftp://o/", "/", "FtpWorker.so"}}));
    QCOMPARE(store.ListAll().size(), 1u);
    QVERIFY(store.PositionAt(0));
    QVERIFY(store.DeleteCurrent());
    QVERIFY(store.ListAll().empty());
    QVERIFY(!store.PositionAt(0));
}

void tst_Store::appendAddsExactlyOneRow()
{
    const QString file = createStore(m_dir->path(), {{"A", "ftp://a/", "/", "FtpWorker.so"}});
    CServerBookStore store;
    store.Open(file);
    const auto before = labels(store.ListAll());
    store.Append("B", "http://b/x", "/x", "HttpWorker.so");
    QCOMPARE(labels(store.ListAll()), before + QStringList{"B:1"});
    QVERIFY(store.PositionAt(1));
    QCOMPARE(store.GetFieldText("Startverzeichnis"), QStringLiteral("/x"));
    OutsideConnection outside(file);
    QCOMPARE(outside.column("SELECT count(*) FROM Serverbook"), QStringList{"2"});
}

void tst_Store::textsRoundTrip_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("umlauts") << QStringLiteral("Übersicht für Größe: äöüÄÖÜß");
    QTest::newRow("quotes") << QStringLiteral("O'Brien \"Haus\" `x`");
    QTest::newRow("sql") << QStringLiteral("x'; DROP TABLE Serverbook; --");
    QTest::newRow("empty") << QString();
    QTest::newRow("128 chars") << QString(128, QChar(u'ß'));
}

void tst_Store::textsRoundTrip()
{
    QFETCH(QString, text);
    const QString file = createStore(m_dir->path(), {{text, text, text, text}});
    CServerBookStore store;
    store.Open(file);
    QCOMPARE(store.ListAll().at(0).label, text);
    QVERIFY(store.PositionAt(0));
    for (const char *field : {"Bezeichnung", "Servername", "Startverzeichnis", "Plugindateiname"})
        QCOMPARE(store.GetFieldText(field), text);
}

void tst_Store::missingValuesReadAsEmptyText()
{
    const QString file = createStore(m_dir->path());
    OutsideConnection(file).exec("INSERT INTO Serverbook (Bezeichnung) VALUES ('nur Name')");
    CServerBookStore store;
    store.Open(file);
    QVERIFY(store.PositionAt(0));
    QCOMPARE(store.GetFieldText("Bezeichnung"), QStringLiteral("nur Name"));
    QCOMPARE(store.GetFieldText("Servername"), QString());
    QCOMPARE(store.GetFieldText("Plugindateiname"), QString());
}

const QList<Row> kFourRows = {{"e0", "ftp://e0/", "/0", ""}, {"e1", "ftp://e1/", "/1", ""},
                               {"e2", "ftp://e2/", "/2", ""}, {"e3", "ftp://e3/", "/3", ""}};

// Another program commits between the reading of a row and a change of it.
// SQLite hands a deleted last row's rowid to the next insert and VACUUM
// renumbers rowids: a row is reached only while it holds what was read, at
// the rowid it was read at; rows the change did not touch are still reached.
void tst_Store::outsideChangesAreGuardedByContent_data()
{
    QTest::addColumn<QStringList>("statements");
    QTest::addColumn<QStringList>("untouched");
    QTest::addColumn<QStringList>("after");
    QTest::newRow("rowid reused")
        << QStringList{"DELETE FROM Serverbook WHERE Bezeichnung = 'e3'",
                       "INSERT INTO Serverbook VALUES ('fremd', 'ftp://fremd/', '/', '')"}
        << QStringList{"e0", "e1", "e2"} << QStringList{"1|e0", "2|e1", "3|e2", "4|fremd"};
    QTest::newRow("vacuum renumbers")
        << QStringList{"DELETE FROM Serverbook WHERE Bezeichnung = 'e1'", "VACUUM"} << QStringList{"e0"}
        << QStringList{"1|e0", "2|e2", "3|e3"};
    QTest::newRow("unrelated insert") << QStringList{"INSERT INTO Serverbook VALUES ('neu', '', '', '')"}
                                      << QStringList{"e0", "e1", "e2", "e3"}
                                      << QStringList{"1|e0", "2|e1", "3|e2", "4|e3", "5|neu"};
    QTest::newRow("same label, other server")
        << QStringList{"UPDATE Serverbook SET Servername = 'ftp://anders/' WHERE Bezeichnung = 'e2'"}
        << QStringList{"e0", "e1", "e3"} << QStringList{"1|e0", "2|e1", "3|e2", "4|e3"};
}

void tst_Store::outsideChangesAreGuardedByContent()
{
    QFETCH(QStringList, statements);
    QFETCH(QStringList, untouched);
    QFETCH(QStringList, after);
    const QString file = createStore(m_dir->path(), kFourRows);
    CServerBookStore store;
    store.Open(file);
    QCOMPARE(labels(store.ListAll()), QStringList({"e0:0", "e1:1", "e2:2", "e3:3"}));
    std::vector<RowSnapshot> read;
    for (int ordinal = 0; ordinal < 4; ++ordinal) {
        QVERIFY(store.PositionAt(ordinal));
        read.push_back(store.CurrentRow());
    }

    OutsideConnection outside(file);
    for (const QString &statement : statements)
        outside.exec(statement);
    QVERIFY(store.ChangedSinceListing());
    const QString rowsSql = "SELECT rowid || '|' || Bezeichnung FROM Serverbook ORDER BY rowid";
    QCOMPARE(outside.column(rowsSql), after);
    for (int ordinal = 3; ordinal >= 0; --ordinal) {
        const QString label = QStringLiteral("e%1").arg(ordinal);
        const bool unchanged = untouched.contains(label);
        QCOMPARE(store.RowUnchanged(read[size_t(ordinal)]), unchanged);
        QCOMPARE(store.UpdateRow(read[size_t(ordinal)], label, "ftp://neu/", "/", ""), unchanged);
    }
    // Only the rows that held what was read were written.
    QCOMPARE(outside.column("SELECT count(*) FROM Serverbook WHERE Servername = 'ftp://neu/'"),
             QStringList{QString::number(untouched.size())});
    QCOMPARE(outside.column(rowsSql), after);
}

// The store's own changes keep the listing current, as a new listing would
// give it: a new row at the end, a deleted row left out with the ordinals
// after it one less.
void tst_Store::ownChangesKeepTheListing()
{
    const QString file = createStore(m_dir->path(), kFourRows);
    CServerBookStore store;
    store.Open(file);
    store.ListAll();
    const qint64 added = store.Append("e4", "ftp://e4/", "/4", "");
    QVERIFY(store.ListingCurrent());
    QCOMPARE(store.OrdinalOf(added), 4);
    QVERIFY(store.PositionAt(1));
    QVERIFY(store.DeleteCurrent());
    QVERIFY(store.ListingCurrent());
    QVERIFY(store.PositionAt(1));
    QCOMPARE(store.GetFieldText("Servername"), QStringLiteral("ftp://e2/"));
    QCOMPARE(store.OrdinalOf(added), 3);
    QCOMPARE(labels(store.ListAll()), QStringList({"e0:0", "e2:1", "e3:2", "e4:3"}));

    // Another program's commit ends it.
    OutsideConnection(file).exec("UPDATE Serverbook SET Servername = 'x' WHERE Bezeichnung = 'e0'");
    QVERIFY(!store.ListingCurrent());
}

// The one-string listing decodes every label exactly as a row's field is
// read, whatever bytes another program stored.
void tst_Store::listingDecodesAsFieldsDo()
{
    const QString file = createStore(m_dir->path());
    OutsideConnection outside(file);
    const QList<const char *> stored = {
        "X'DC62756E67'", "X'EFBBBF41'", "X'41E282'", "X'410042'", "X'F09F9880'", "''", "NULL", "X'C0AF'",
        "X'EDA080'", "X'C3BC6265722D7374726173C39F65'", "X'E282AC'", "X'F4908080'", "X'E080AF'", "X'F08F8080'",
        "X'C2'", "X'80'", "X'41EFBBBF'", "X'F48FBFBF'", "X'EE8080'"};
    for (const char *label : stored)
        outside.exec(QStringLiteral("INSERT INTO Serverbook (Bezeichnung) VALUES (CAST(%1 AS TEXT))").arg(label));
    CServerBookStore store;
    store.Open(file);
    const CServerBookStore::Labels labels = store.ListLabels();
    QCOMPARE(labels.ends.size(), size_t(stored.size()));
    for (int i = 0; i < stored.size(); ++i) {
        QVERIFY(store.PositionAt(i));
        const quint32 start = i ? labels.ends[size_t(i) - 1] : 0;
        QCOMPARE(labels.text.mid(start, labels.ends[size_t(i)] - start), store.GetFieldText("Bezeichnung"));
    }
}

// Rows another program committed to a write-ahead log and not yet written
// back hold more label text, and are more rows, than the book's file has
// room for; all of them list.
void tst_Store::listingReadsRowsStillInTheLog()
{
    const QString file = createStore(m_dir->path());
    OutsideConnection outside(file);
    QCOMPARE(outside.column("PRAGMA journal_mode = WAL"), QStringList({"wal"}));
    outside.exec("PRAGMA wal_autocheckpoint = 0");
    const qint64 fileSize = QFileInfo(file).size();
    QStringList expected;
    for (int i = 0; expected.join(QString()).size() <= 2 * fileSize; ++i) {
        expected << QStringLiteral("Übertragung %1 ").arg(i).repeated(6);
        outside.exec(QStringLiteral("INSERT INTO Serverbook (Bezeichnung) VALUES ('%1')").arg(expected.last()));
    }
    outside.exec("BEGIN");
    while (expected.size() <= fileSize / 4) {
        expected << QString::number(expected.size() % 10);
        outside.exec(QStringLiteral("INSERT INTO Serverbook (Bezeichnung) VALUES ('%1')").arg(expected.last()));
    }
    outside.exec("COMMIT");
    QCOMPARE(QFileInfo(file).size(), fileSize);

    CServerBookStore store;
    store.Open(file);
    const CServerBookStore::Labels labels = store.ListLabels();
    QCOMPARE(labels.ends.size(), size_t(expected.size()));
    QCOMPARE(labels.text, expected.join(QString()));
}

// Another program commits to a book in WAL mode while the store's listing
// reads it: the listing shows the book as it was when it began, so the
// commit must still count as a change since the listing.
void tst_Store::commitDuringAListingMarksItStale()
{
    const QString file = createStore(m_dir->path(), kFourRows);
    OutsideConnection outside(file);
    QCOMPARE(outside.column("PRAGMA journal_mode = WAL"), QStringList({"wal"}));
    CServerBookStore store;
    store.Open(file);
    int rows = 0;
    store.ScanEntries([&](const CServerBookStore::StoredEntry &) {
        if (rows++ == 1)
            outside.exec("UPDATE Serverbook SET Servername = 'ftp://neu/' WHERE Bezeichnung = 'e3'");
    });
    QCOMPARE(rows, 4);
    QCOMPARE(outside.column("SELECT Servername FROM Serverbook WHERE Bezeichnung = 'e3'"), QStringList{"ftp://neu/"});
    QVERIFY(!store.ListingCurrent());
    QVERIFY(store.ChangedSinceListing());
}

// A book whose file is three gigabytes (further columns a listing never
// reads; here a sparse tail SQLite ignores) lists within one gigabyte of
// address space beyond what the process has.
void tst_Store::listingRoomFollowsTheLabelsNotTheFile()
{
#if KELVO_UNDER_ASAN
    QSKIP("AddressSanitizer maps its own memory beyond any limit set here");
#endif
    const QString file = createStore(m_dir->path(), {{"Äpfel", "ftp://a/", "/", ""}, {"Birnen", "ftp://b/", "/", ""}});
    {
        QFile grown(file);
        QVERIFY(grown.resize(qint64(3) << 30));
    }
    QStringList listed;
    {
        const AddressSpaceLimit limit(rlim_t(1) << 30);
        QVERIFY(limit.set());
        try {
            CServerBookStore store;
            store.Open(file);
            listed = labels(store.ListAll());
        } catch (const std::bad_alloc &) {
            listed = QStringList{"bad_alloc"};
        }
    }
    QCOMPARE(listed, QStringList({"Äpfel:0", "Birnen:1"}));
}

// Labels another program stored as something other than plain text (bytes
// that are no UTF-8, a BLOB, a number in a column without a type, nothing)
// are picked and deleted like any other: the guard compares what is stored.
void tst_Store::changesCompareStoredValues()
{
    const QString file = CServerBookStore::FileIn(m_dir->path());
    QVERIFY(QDir().mkpath(QFileInfo(file).path()));
    OutsideConnection outside(file);
    outside.exec("CREATE TABLE Serverbook (Bezeichnung, Servername TEXT, Startverzeichnis TEXT, Plugindateiname TEXT)");
    for (const char *label : {"CAST(X'4DFC6C6C6572' AS TEXT)", "X'4DFC6C6C6572'", "42", "4.5", "NULL", "'e'"})
        outside.exec(QStringLiteral("INSERT INTO Serverbook VALUES (%1, 'ftp://a/', '/', '')").arg(label));
    CServerBookStore store;
    store.Open(file);
    store.ListAll();
    for (int ordinal = 5; ordinal >= 0; --ordinal) {
        QVERIFY(store.PositionAt(ordinal));
        QVERIFY2(store.DeleteCurrent(), qPrintable(QString::number(ordinal)));
    }
    QCOMPARE(outside.column("SELECT count(*) FROM Serverbook"), QStringList{"0"});
}

void tst_Store::failedAppendLeavesTheTableAsItWas()
{
    const QString file = createStore(m_dir->path(), {{"A", "a", "", ""}});
    OutsideConnection outside(file);
    // Fails the step that fills the new row, after the empty row was inserted.
    outside.exec("CREATE TRIGGER refuse BEFORE UPDATE ON Serverbook WHEN NEW.Bezeichnung = 'bad' "
                 "BEGIN SELECT RAISE(ABORT, 'forced failure'); END");
    CServerBookStore store;
    store.Open(file);
    try {
        store.Append("bad", "b", "", "");
        QFAIL("Append did not fail");
    } catch (const StoreError &error) {
        QVERIFY2(error.message().contains("forced failure"), qPrintable(error.message()));
        QVERIFY(error.message().contains(QDir::toNativeSeparators(file)));
    }
    QCOMPARE(outside.column("SELECT count(*) FROM Serverbook"), QStringList{"1"});
    // The store is still usable after the failure.
    store.Append("good", "g", "", "");
    QCOMPARE(labels(store.ListAll()), QStringList({"A:0", "good:1"}));
}

void tst_Store::extraColumnsSurvive()
{
    const QString file = CServerBookStore::FileIn(m_dir->path());
    QVERIFY(QDir().mkpath(QFileInfo(file).path()));
    {
        OutsideConnection outside(file);
        outside.exec("CREATE TABLE Serverbook (Nr INTEGER, Bezeichnung TEXT, Servername TEXT, "
                     "Startverzeichnis TEXT, Plugindateiname TEXT, Kommentar TEXT DEFAULT 'neu')");
        outside.exec("INSERT INTO Serverbook VALUES (1, 'A', 'a', '/', 'x', 'behalten')");
        outside.exec("INSERT INTO Serverbook VALUES (2, 'B', 'b', '/', 'x', 'weg')");
    }
    CServerBookStore store;
    store.Open(file);
    store.Append("C", "c", "/c", "y");
    store.ListAll();
    QVERIFY(store.PositionAt(1));
    QVERIFY(store.DeleteCurrent());
    OutsideConnection outside(file);
    QCOMPARE(outside.column("SELECT Bezeichnung || '|' || ifnull(Nr, '-') || '|' || Kommentar "
                            "FROM Serverbook ORDER BY rowid"),
             QStringList({"A|1|behalten", "C|-|neu"}));
}

// Another program keeps pictures of 64 MB in a further column: showing the
// entry reads its four fields, not the picture (which, read as text as well,
// would take three times its size).
void tst_Store::largeFurtherColumnsStayUnread()
{
#if KELVO_UNDER_ASAN
    QSKIP("AddressSanitizer maps its own memory beyond any limit set here");
#endif
    const QString file = createStore(m_dir->path(), {{"Bild", "ftp://bild/", "/", "x"}});
    {
        OutsideConnection outside(file);
        outside.exec("ALTER TABLE Serverbook ADD COLUMN Bild BLOB");
        outside.exec("UPDATE Serverbook SET Bild = zeroblob(64 * 1024 * 1024)");
    }
    CServerBookStore store;
    store.Open(file);
    QString server;
    {
        const AddressSpaceLimit limit(rlim_t(160) << 20);
        QVERIFY(limit.set());
        try {
            if (store.PositionAt(0))
                server = store.GetFieldText("Servername");
        } catch (const std::exception &error) {
            server = QString::fromUtf8(error.what());
        }
    }
    QCOMPARE(server, QStringLiteral("ftp://bild/"));
}

void tst_Store::badFiles_data()
{
    QTest::addColumn<QString>("relativePath");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("schema");
    QTest::addColumn<QString>("cause");

    QTest::newRow("missing file") << "DATA/kelvo.mdb" << QByteArray() << QString() << "nicht gefunden";
    QTest::newRow("missing DATA folder") << "" << QByteArray() << QString() << "nicht gefunden";
    QTest::newRow("an Access database")
        << "DATA/kelvo.mdb" << QByteArray("\x00\x01\x00\x00Standard Jet DB\x00", 20).repeated(200)
        << QString() << "not a database";
    QTest::newRow("empty file") << "DATA/kelvo.mdb" << QByteArray("") << QString() << "no such table";
    QTest::newRow("missing table") << "DATA/kelvo.mdb" << QByteArray() << "CREATE TABLE Other (x)"
                                   << "no such table";
    QTest::newRow("missing column")
        << "DATA/kelvo.mdb" << QByteArray()
        << "CREATE TABLE Serverbook (Bezeichnung, Servername, Startverzeichnis)" << "Plugindateiname";
    // Both open and read the four fields, but give no rowid to address a row by.
    QTest::newRow("table without rowid")
        << "DATA/kelvo.mdb" << QByteArray()
        << "CREATE TABLE Serverbook (Bezeichnung TEXT PRIMARY KEY, Servername, Startverzeichnis, "
           "Plugindateiname) WITHOUT ROWID"
        << "nicht auflisten";
    QTest::newRow("a view")
        << "DATA/kelvo.mdb" << QByteArray()
        << "CREATE VIEW Serverbook AS SELECT 'a' AS Bezeichnung, 'b' AS Servername, "
           "'c' AS Startverzeichnis, 'd' AS Plugindateiname"
        << "keine Tabelle";
}

void tst_Store::badFiles()
{
    QFETCH(QString, relativePath);
    QFETCH(QByteArray, content);
    QFETCH(QString, schema);
    QFETCH(QString, cause);

    const QString file = CServerBookStore::FileIn(m_dir->path());
    if (!relativePath.isEmpty()) {
        QVERIFY(QDir().mkpath(QFileInfo(file).path()));
        if (!schema.isEmpty()) {
            OutsideConnection(file).exec(schema);
        } else if (!content.isNull()) {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content);
        }
    }
    const QByteArray before = QFile::exists(file) ? [&] {
        QFile f(file);
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }() : QByteArray();

    CServerBookStore store;
    try {
        store.Open(file);
        QFAIL("Open did not fail");
    } catch (const StoreError &error) {
        QVERIFY2(error.message().contains(QDir::toNativeSeparators(file)), qPrintable(error.message()));
        QVERIFY2(error.message().contains(cause), qPrintable(error.message()));
    }
    QVERIFY(!store.IsOpen());
    // Opening never creates or changes anything.
    QCOMPARE(QFile::exists(file), !relativePath.isEmpty() && !(content.isNull() && schema.isEmpty()));
    if (QFile::exists(file)) {
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), before);
    }
    QVERIFY(!QFileInfo::exists(m_dir->filePath("DATA")) || !relativePath.isEmpty());
}

void tst_Store::lockedDatabaseFailsInsteadOfHanging()
{
    const QString file = createStore(m_dir->path(), {{"A", "a", "", ""}});
    OutsideConnection outside(file);
    outside.exec("BEGIN EXCLUSIVE");
    outside.exec("INSERT INTO Serverbook (Bezeichnung) VALUES ('locked')");
    CServerBookStore store;
    QVERIFY_THROWS_EXCEPTION(StoreError, store.Open(file));
    outside.exec("ROLLBACK");
    store.Open(file);
    QCOMPARE(store.ListAll().size(), 1u);
}

void tst_Store::corruptTableFailsTheListing()
{
    QList<Row> rows;
    for (int i = 0; i < 2000; ++i)
        rows.append({QStringLiteral("Eintrag %1").arg(i), QString(60, 'x'), "/", "FtpWorker.so"});
    const QString file = createStore(m_dir->path(), rows);
    {
        // Scribble over pages in the middle of the table, keeping the schema page.
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.size() > 20 * 4096);
        f.seek(10 * 4096);
        f.write(QByteArray(4 * 4096, '\xA5'));
    }
    CServerBookStore store;
    try {
        store.Open(file);
        store.ListAll();
        QFAIL("a listing of a corrupt table came back as if complete");
    } catch (const StoreError &error) {
        QVERIFY2(error.message().contains("malformed"), qPrintable(error.message()));
    }
}

void tst_Store::readOnlyFileFailsOnWrite()
{
    ReadOnlyBookFolder data(m_dir->path() + "/DATA");
    if (!data.usable())
        QSKIP("no file system can be mounted here");
    const QString file = createStore(m_dir->path(), {{"A", "a", "", ""}});
    QVERIFY(data.makeReadOnly(file));
    CServerBookStore store;
    store.Open(file);
    QCOMPARE(store.ListAll().size(), 1u);
    QVERIFY_THROWS_EXCEPTION(StoreError, store.Append("B", "b", "", ""));
    QVERIFY(store.PositionAt(0));
    QVERIFY_THROWS_EXCEPTION(StoreError, store.DeleteCurrent());
}

// Two stores on one file, each opened, closed and opened again while the
// other reads: each has a connection of its own.
void tst_Store::storesOnOneFileAreIndependent()
{
    const QString file = createStore(m_dir->path(), {{"A", "a", "", ""}});
    CServerBookStore first, second;
    first.Open(file);
    second.Open(file);
    first.ListAll();
    second.PositionAt(0);
    first.Close();
    QCOMPARE(second.GetFieldText("Bezeichnung"), QStringLiteral("A"));
    first.Open(file);  // reopened while the other is open
    first.Open(file);  // and again without a close
    QVERIFY(first.PositionAt(0));
    QCOMPARE(first.GetFieldText("Bezeichnung"), QStringLiteral("A"));
}

// A book so deep that its backups could not be opened is refused at once,
// with the reason, when it is created and when it is opened.
void tst_Store::pathsTooLongForSqliteAreRefused()
{
    QString dir = m_dir->path();
    while (dir.size() < 390)  // the book then lies at about 460 bytes, where SQLite still opens it
        dir += "/" + QString(60, 'o');
    QVERIFY(QDir().mkpath(dir));
    const QString file = CServerBookStore::FileIn(dir);
    try {
        CServerBookStore::Create(file);
        QFAIL("created");
    } catch (const StoreError &error) {
        QVERIFY2(error.message().contains("Bytes"), qPrintable(error.message()));
    }
    QVERIFY(!QFileInfo::exists(file));
    QVERIFY(QDir().mkpath(QFileInfo(file).path()));
    OutsideConnection(file).exec("CREATE TABLE Serverbook (Bezeichnung, Servername, Startverzeichnis, Plugindateiname)");
    CServerBookStore store;
    try {
        store.Open(file);
        QFAIL("opened");
    } catch (const StoreError &error) {
        QVERIFY2(error.message().contains("--plugin-dir"), qPrintable(error.message()));
    }
}

void tst_Store::createRefusesAnExistingFile()
{
    const QString file = createStore(m_dir->path(), {{"A", "a", "", ""}});
    QVERIFY_THROWS_EXCEPTION(StoreError, CServerBookStore::Create(file));
    CServerBookStore store;
    store.Open(file);
    QCOMPARE(store.ListAll().size(), 1u);
}

QTEST_GUILESS_MAIN(tst_Store)
#include "tst_store.moc"
