#include "cbookbackups.h"
#include "cserverbookstore.h"
#include "storeerror.h"
#include "storefixture.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUuid>
#include <QtTest>

#include <sys/stat.h>

// The backups made before changes, their rotation, and restoring them:
// real SQLite files in a temporary plug-in directory.
class tst_Backups : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void restoringTheOldestKeepsIt();
    void freshBackupSurvivesBackupsStampedLater();
    void readingAndRestoringCreateNoFiles();
    void failedBackupStopsEveryLaterChange();
    void copiesCutShortNeverCount();
    void rotationLeavesFilesItDidNotMake();
    void burstOfChangesKeepsTheStateBeforeIt();
    void pipesAmongTheBackupsAreNotWaitedFor();
    void backupsAreAsPrivateAsTheBook();
    void sharedBackupFolderKeepsEachBooksBackups();
    void copiesOfKilledWritersGoAtTheNextBackup();
    void ruleKeepsDaysAndSessions();
    void brokenBackupsAreNamedAndRefused_data();
    void brokenBackupsAreNamedAndRefused();
    void compareSaysWhatARestoreChanges();
    void restoreBringsBackRowsAndFurtherColumns();
    void restoreOfAReadOnlyBookWritesNothing();
    void olderVersionsBackupsAreListedAndKept();

private:
    QString backupFolder() const { return m_dir->path() + "/DATA/backup"; }
    QStringList filesInBackupFolder() const
    {
        return QDir(backupFolder()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
    // One opening of the book that adds label: one backup.
    void addEntry(const QString &label)
    {
        CServerBookStore store;
        store.Open(m_file);
        store.Append(label, "ftp://x/", "/", "");
    }
    int entriesOf(const QString &name) const
    {
        for (const auto &backup : CBookBackups(m_file).List()) {
            if (backup.name == name)
                return backup.entries;
        }
        return -2;
    }
    QStringList storedLabels() const
    {
        return OutsideConnection(m_file).column("SELECT Bezeichnung FROM Serverbook ORDER BY rowid");
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_file;
};

void tst_Backups::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_file = createStore(m_dir->path(), {{"A", "ftp://a/", "/", ""}, {"B", "ftp://b/", "/", ""}});
}

// The backup restored from stays, the state it replaced is backed up too,
// and restoring that one undoes the restore.
void tst_Backups::restoringTheOldestKeepsIt()
{
    for (int i = 0; i < 12; ++i)
        addEntry(QString::number(i));
    const auto before = CBookBackups(m_file).List();
    const QString oldest = before.front().name;
    QCOMPARE(before.front().entries, 2);

    CServerBookStore store;
    store.Open(m_file);
    store.RestoreFrom(CBookBackups(m_file).PathOf(oldest));
    QCOMPARE(storedLabels(), QStringList({"A", "B"}));
    const auto after = CBookBackups(m_file).List();
    QCOMPARE(after.front().name, oldest);
    QCOMPARE(after.back().entries, 14);  // the state the restore replaced

    // A second restore in the same opening backs up what it replaces again.
    store.RestoreFrom(CBookBackups(m_file).PathOf(after.back().name));
    QCOMPARE(storedLabels().size(), 14);
    QCOMPARE(CBookBackups(m_file).List().back().entries, 2);
    QCOMPARE(CBookBackups(m_file).List().front().name, oldest);
}

// Ten backups copied in from a machine whose clock was ahead: the backup of
// the next change is kept, and holds the book before that change.
void tst_Backups::freshBackupSurvivesBackupsStampedLater()
{
    addEntry("C");
    const QString real = CBookBackups(m_file).List().front().name;
    for (int i = 0; i < 10; ++i)
        QVERIFY(QFile::copy(backupFolder() + "/" + real, backupFolder() + QStringLiteral("/kelvo-20991231-2359%1Z.mdb").arg(i, 2, 10, QChar('0'))));
    QVERIFY(QFile::remove(backupFolder() + "/" + real));

    CServerBookStore store;
    store.Open(m_file);
    store.PositionAt(0);
    QVERIFY(store.DeleteCurrent());
    store.Close();
    const auto backups = CBookBackups(m_file).List();
    QCOMPARE(backups.back().entries, 3);
    QVERIFY(!backups.back().name.startsWith("kelvo-2099"));
    QCOMPARE(storedLabels(), QStringList({"B", "C"}));
}

// A book in WAL mode: its backups are plain journal files, and listing,
// comparing and restoring them leave nothing beside them.
void tst_Backups::readingAndRestoringCreateNoFiles()
{
    OutsideConnection(m_file).exec("PRAGMA journal_mode = WAL");
    addEntry("C");
    const CBookBackups backups(m_file);
    const QString name = backups.List().front().name;
    QFile copy(backups.PathOf(name));
    QVERIFY(copy.open(QIODevice::ReadOnly));
    QCOMPARE(copy.read(20).mid(18, 2), QByteArray("\x01\x01"));
    copy.close();

    QCOMPARE(backups.Inspect(name).entries, 2);
    QCOMPARE(backups.Compare(name).removed, 1);
    CServerBookStore store;
    store.Open(m_file);
    store.RestoreFrom(backups.PathOf(name));
    store.Close();
    for (const QString &file : filesInBackupFolder())
        QVERIFY2(file.endsWith(".mdb"), qPrintable(file));
    QCOMPARE(storedLabels(), QStringList({"A", "B"}));
}

// Once the backup has failed, no change of that opening goes through, even
// when a backup would now succeed.
void tst_Backups::failedBackupStopsEveryLaterChange()
{
    QVERIFY(QDir().mkpath(m_dir->path() + "/DATA"));
    QFile blocker(backupFolder());
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    CServerBookStore store;
    store.Open(m_file);
    QString first;
    try {
        store.Append("C", "", "", "");
    } catch (const StoreError &error) {
        first = error.message();
    }
    QVERIFY2(first.contains("Sicherung") && first.contains(QDir::toNativeSeparators(backupFolder())), qPrintable(first));
    QVERIFY(blocker.remove());
    QString second;
    try {
        store.PositionAt(0);
        store.DeleteCurrent();
    } catch (const StoreError &error) {
        second = error.message();
    }
    QCOMPARE(second, first);
    QVERIFY_THROWS_EXCEPTION(StoreError, store.Append("D", "", "", ""));
    store.Close();
    QCOMPARE(storedLabels(), QStringList({"A", "B"}));
    QVERIFY(!QFileInfo::exists(backupFolder()));
}

// What a writer killed mid-copy leaves under its temporary name never counts
// and goes once it is old; a journal whose backup is gone goes too. A copy
// still being written by another program is left alone.
void tst_Backups::copiesCutShortNeverCount()
{
    for (int i = 0; i < 10; ++i)
        addEntry(QString::number(i));
    // Files as a writer killed while copying leaves them; old ones, or one
    // being written just now.
    auto leftover = [this](const QString &suffix, bool old) {
        const QString path = backupFolder() + "/.kelvo-backup-" + QUuid::createUuid().toString(QUuid::WithoutBraces)
                             + ".part" + suffix;
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(QByteArray(4096, 'x'));
        file.flush();
        if (old)
            file.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime);
        return path;
    };
    QStringList old;
    for (int i = 0; i < 5; ++i)
        old << leftover("", true) << leftover("-journal", true);
    for (const QString &path : old)
        QVERIFY(QFileInfo(path).lastModified().secsTo(QDateTime::currentDateTime()) > 3000);
    const QString busy = leftover("", false);
    QFile orphan(backupFolder() + "/kelvo-20200101-000000.mdb-journal");
    QVERIFY(orphan.open(QIODevice::WriteOnly));
    orphan.write("journal");
    orphan.close();

    addEntry("danach");
    for (const QString &path : old)
        QVERIFY2(!QFileInfo::exists(path), qPrintable(path));
    QVERIFY(QFileInfo::exists(busy));
    QVERIFY(!orphan.exists());
    int good = 0;
    for (const auto &backup : CBookBackups(m_file).List())
        good += backup.complete() && backup.ours();
    QVERIFY2(good >= CBookBackups::kNewestKept, qPrintable(QString::number(good)));
}

// Through a link to a folder of someone else's files, some named like
// backups: the rotation removes none of them.
void tst_Backups::rotationLeavesFilesItDidNotMake()
{
    QTemporaryDir elsewhere;
    QVERIFY(QDir().mkpath(m_dir->path() + "/DATA"));
    QVERIFY(QFile::link(elsewhere.path(), backupFolder()));
    QStringList foreign;
    for (int i = 0; i < 12; ++i) {
        const QString path = elsewhere.filePath(QStringLiteral("kelvo-200001%1-120000.mdb").arg(i + 10));
        if (i % 2) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("nicht von uns");
        } else {
            OutsideConnection(path).exec("CREATE TABLE Serverbook (Bezeichnung, Servername, Startverzeichnis, "
                                         "Plugindateiname)");
        }
        foreign << path;
    }
    for (int i = 0; i < 12; ++i)
        addEntry(QString::number(i));
    for (const QString &path : foreign)
        QVERIFY2(QFileInfo::exists(path), qPrintable(path));
    QCOMPARE(QDir(elsewhere.path()).entryList(QDir::Files).size(), 12 + CBookBackups::kNewestKept + 1);
}

// Another program's pipe, and a link to one, named like backups: a change,
// the list of backups and a restore's check go on without waiting for
// them, and they are no backups.
void tst_Backups::pipesAmongTheBackupsAreNotWaitedFor()
{
    addEntry("erste");
    const QString pipe = backupFolder() + "/kelvo-20000101-120000Z.mdb";
    QCOMPARE(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    QVERIFY(QFile::link(pipe, backupFolder() + "/kelvo-20000102-120000Z.mdb"));
    addEntry("zweite");
    QStringList names;
    for (const CBookBackups::Backup &backup : CBookBackups(m_file).List())
        names << backup.name;
    QCOMPARE(names.size(), 2);
    QVERIFY(!names.contains("kelvo-20000101-120000Z.mdb") && !names.contains("kelvo-20000102-120000Z.mdb"));
    QVERIFY(CBookBackups(m_file).PathOf("kelvo-20000102-120000Z.mdb").isEmpty());
    QVERIFY(!CBookBackups(m_file).Inspect("kelvo-20000101-120000Z.mdb").complete());
}

// A book only its owner may read has backups and a backup folder only its
// owner may read, whatever the umask allows, even a folder an older
// version made open to all.
void tst_Backups::backupsAreAsPrivateAsTheBook()
{
    QVERIFY(QFile::setPermissions(m_file, QFile::ReadOwner | QFile::WriteOwner));
    QVERIFY(QDir().mkpath(backupFolder()));
    QVERIFY(QFile::setPermissions(backupFolder(), QFileDevice::Permissions(0x7755)));
    const mode_t umaskBefore = umask(022);
    addEntry("privat");
    umask(umaskBefore);
    const QStringList made = filesInBackupFolder();
    QCOMPARE(made.size(), 1);
    QCOMPARE(QFileInfo(backupFolder() + '/' + made.first()).permissions() & 0x0077, QFileDevice::Permissions());
    QCOMPARE(QFileInfo(backupFolder()).permissions() & 0x0077, QFileDevice::Permissions());
}

// Two books whose backup folders are one (a link): each book's rotation
// counts and removes only its own backups, whatever the other made.
void tst_Backups::sharedBackupFolderKeepsEachBooksBackups()
{
    for (int i = 0; i < 12; ++i)
        addEntry(QStringLiteral("a%1").arg(i));
    const auto ofBook = [](const QString &book) {
        QStringList names;
        for (const CBookBackups::Backup &backup : CBookBackups(book).List()) {
            if (backup.book == CBookBackups::BookIdentity(book))
                names << backup.name;
        }
        return names;
    };
    const QStringList first = ofBook(m_file);
    QCOMPARE(first.size(), CBookBackups::kNewestKept + 1);

    QTemporaryDir other;
    const QString otherBook = createStore(other.path(), {{"B", "ftp://b/", "/", ""}});
    QVERIFY(QFile::link(backupFolder(), other.filePath("DATA/backup")));
    for (int i = 0; i < 12; ++i) {
        CServerBookStore store;
        store.Open(otherBook);
        store.Append(QStringLiteral("b%1").arg(i), "ftp://b/", "/", "");
    }
    QCOMPARE(ofBook(m_file), first);
    QCOMPARE(ofBook(otherBook).size(), CBookBackups::kNewestKept + 1);
}

// A writer killed while it copied leaves its part behind: the next backup
// removes it at once, when its writer is gone, and leaves another's alone.
void tst_Backups::copiesOfKilledWritersGoAtTheNextBackup()
{
    QProcess gone;
    gone.start("true");
    QVERIFY(gone.waitForStarted());
    const qint64 pid = gone.processId();
    QVERIFY(gone.waitForFinished());
    addEntry("erste");
    const QString dead = backupFolder() + '/' + CBookBackups::PartName(pid);
    const QString alive = backupFolder() + '/' + CBookBackups::PartName(QCoreApplication::applicationPid());
    for (const QString &part : {dead, alive}) {
        QFile file(part);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(4096, 'x'));
    }
    addEntry("zweite");
    QVERIFY(!QFile::exists(dead));
    QVERIFY(QFile::exists(alive));
}

// Twelve changes in a row: the book as it was before them stays restorable.
void tst_Backups::burstOfChangesKeepsTheStateBeforeIt()
{
    for (int i = 0; i < 12; ++i)
        addEntry(QString::number(i));
    const auto backups = CBookBackups(m_file).List();
    QCOMPARE(backups.size(), size_t(CBookBackups::kNewestKept + 1));
    QCOMPARE(backups.front().entries, 2);
    QCOMPARE(backups.back().entries, 13);
}

void tst_Backups::ruleKeepsDaysAndSessions()
{
    const QDateTime start = QDateTime(QDate(2026, 3, 1), QTime(12, 0), QTimeZone::utc());
    std::vector<QDateTime> made;
    // Ten days with three backups an hour apart, then a burst of twenty.
    for (int day = 0; day < 10; ++day) {
        for (int hour = 0; hour < 3; ++hour)
            made.push_back(start.addDays(day).addSecs(hour * 3600));
    }
    const QDateTime burst = start.addDays(10);
    for (int i = 0; i < 20; ++i)
        made.push_back(burst.addSecs(i));
    const std::vector<bool> kept = CBookBackups::KeptByRule(made);
    QStringList keptAt;
    for (size_t i = 0; i < made.size(); ++i) {
        if (kept[i])
            keptAt << made[i].toLocalTime().toString("MM-dd HH:mm:ss");
    }
    QVERIFY(kept[29]);  // the newest of the session before: the book before the burst began
    QVERIFY(kept[30]);  // the first of the burst
    for (int day = 4; day < 10; ++day)
        QVERIFY2(kept[size_t(day * 3 + 2)], qPrintable(keptAt.join(", ")));
    QVERIFY(!kept[size_t(3 * 3 + 2)]);  // older than the seventh day with backups
    QVERIFY(!kept[0]);
    QCOMPARE(std::count(kept.begin(), kept.end(), true), 10 + 1 + 6);

    // A clock set back two hours starts a new session: the backups before it
    // are not all kept as one long session's first.
    std::vector<QDateTime> setBack;
    for (int i = 0; i < 15; ++i)
        setBack.push_back(start.addSecs(i));
    setBack.push_back(start.addSecs(-7200));
    const std::vector<bool> keptAfterSetBack = CBookBackups::KeptByRule(setBack);
    QVERIFY(!keptAfterSetBack[0]);
    QVERIFY(keptAfterSetBack[14] && keptAfterSetBack[15]);
    QVERIFY(CBookBackups::KeptByRule({}).empty());
}

void tst_Backups::brokenBackupsAreNamedAndRefused_data()
{
    QTest::addColumn<QString>("damage");
    QTest::newRow("page overwritten") << "page";
    QTest::newRow("cut short") << "truncate";
    QTest::newRow("hot journal beside it") << "journal";
    QTest::newRow("field missing") << "field";
}

void tst_Backups::brokenBackupsAreNamedAndRefused()
{
    QFETCH(QString, damage);
    {
        CServerBookStore store;
        store.Open(m_file);
        std::vector<CServerBookStore::Row> rows;
        for (int i = 0; i < 3000; ++i)
            rows.push_back({QStringLiteral("Eintrag %1").arg(i), "ftp://viele.example.com/", "/pfad/", "FtpWorker.so"});
        store.AppendAll(rows);
    }
    const CBookBackups backups(m_file);
    const QString name = backups.List().front().name;
    const QString path = backups.PathOf(name);
    if (damage == "field") {
        OutsideConnection(path).exec("ALTER TABLE Serverbook DROP COLUMN Servername");
    } else if (damage == "journal") {
        QFile journal(path + "-journal");
        QVERIFY(journal.open(QIODevice::WriteOnly));
        journal.write(QByteArray(512, '\xd9'));
    } else {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        if (damage == "truncate") {
            QVERIFY(file.resize(file.size() / 2));
        } else {
            file.seek(file.size() / 2 / 4096 * 4096);
            file.write(QByteArray(4096, '\x5a'));
        }
    }
    addEntry("danach");  // a rotation runs over the broken one
    QVERIFY(QFileInfo::exists(path));
    const QStringList before = storedLabels();

    CServerBookStore store;
    store.Open(m_file);
    QString message;
    try {
        store.RestoreFrom(path);
    } catch (const StoreError &error) {
        message = error.message();
    }
    store.Close();
    QVERIFY2(message.startsWith("Sicherung " + QDir::toNativeSeparators(path)), qPrintable(message));
    QVERIFY2(!message.contains("Feld fehlt") || damage == "field", qPrintable(message));
    QVERIFY(!backups.Inspect(name).complete());
    QCOMPARE(storedLabels(), before);
}

// Rows are compared by rowid, as the restore puts them back: one deleted,
// two added and one edited since the backup.
void tst_Backups::compareSaysWhatARestoreChanges()
{
    {
        CServerBookStore store;
        store.Open(m_file);
        store.PositionAt(0);
        QVERIFY(store.DeleteCurrent());
        store.Append("C", "ftp://c/", "/", "");
        store.Append("D", "ftp://d/", "/", "");
        store.PositionAt(0);
        QVERIFY(store.UpdateCurrent("B", "ftp://b/", "/anders/", ""));
    }
    const CBookBackups backups(m_file);
    const QString name = backups.List().front().name;
    QStringList rows;
    const auto difference = backups.Compare(name, [&rows](CBookBackups::Change change, const QString &label) {
        rows << QString::number(int(change)) + label;
    });
    QCOMPARE(rows, QStringList({"0A", "1C", "1D", "2B"}));
    QCOMPARE(difference.Summary(), QStringLiteral("+1 / \u22122 / 1 geändert"));
    QCOMPARE(difference.InWords(), QStringLiteral("1 kommt zurück, 2 gehen, 1 geändert"));
    QCOMPARE(CBookBackups::Difference().Summary(), QStringLiteral("keine Unterschiede"));
    QVERIFY_THROWS_EXCEPTION(StoreError, backups.Compare("kelvo-20000101-000000Z.mdb"));
}

// A book that may only be read refuses a restore before anything is backed
// up: no backup is made for a change that cannot be made.
void tst_Backups::restoreOfAReadOnlyBookWritesNothing()
{
    QTemporaryDir dir;
    ReadOnlyBookFolder data(dir.path() + "/DATA");
    if (!data.usable())
        QSKIP("no file system can be mounted here");
    const QString file = createStore(dir.path(), {{"A", "ftp://a/", "/", ""}});
    QString backup;
    {
        CServerBookStore store;
        store.Open(file);
        store.Append("B", "ftp://b/", "/", "");
        backup = store.BackupMade();
    }
    const QDir backups(dir.path() + "/DATA/backup");
    const QStringList before = backups.entryList(QDir::Files | QDir::Hidden);
    QVERIFY(data.makeReadOnly(file));
    CServerBookStore store;
    store.Open(file);
    try {
        store.RestoreFrom(CBookBackups(file).PathOf(backup));
        QFAIL("a book that may only be read was restored");
    } catch (const StoreError &error) {
        QVERIFY2(error.message().contains("kann nur gelesen werden"), qPrintable(error.message()));
    }
    QCOMPARE(backups.entryList(QDir::Files | QDir::Hidden), before);
}

void tst_Backups::restoreBringsBackRowsAndFurtherColumns()
{
    QTemporaryDir dir;
    const QString file = CServerBookStore::FileIn(dir.path());
    QVERIFY(QDir().mkpath(QFileInfo(file).path()));
    OutsideConnection outside(file);
    outside.exec("CREATE TABLE Serverbook (Bezeichnung TEXT, Servername TEXT, Startverzeichnis TEXT, "
                 "Plugindateiname TEXT, Kommentar TEXT)");
    outside.exec("INSERT INTO Serverbook VALUES ('A', 'a', '/', 'x', 'erster')");
    outside.exec("INSERT INTO Serverbook VALUES ('B', 'b', '/', 'x', 'zweiter')");
    {
        CServerBookStore store;
        store.Open(file);
        store.Append("C", "c", "/", "y");
    }
    const QString backup = CBookBackups(file).List().front().name;
    outside.exec("UPDATE Serverbook SET Kommentar = 'geändert'");
    outside.exec("DELETE FROM Serverbook WHERE Bezeichnung = 'A'");

    CServerBookStore store;
    store.Open(file);
    store.RestoreFrom(CBookBackups(file).PathOf(backup));
    QCOMPARE(outside.column("SELECT rowid || '|' || Bezeichnung || '|' || Kommentar FROM Serverbook ORDER BY rowid"),
             QStringList({"1|A|erster", "2|B|zweiter"}));
    // The state before the restore was backed up too.
    const auto backups = CBookBackups(file).List();
    QCOMPARE(backups.size(), 2u);
    QCOMPARE(backups.back().entries, 2);
    QCOMPARE(store.ListAll().size(), 2u);
}

// Backups of older versions are named in local time and carry no record:
// they are listed at that time, can be restored, and are never rotated away.
void tst_Backups::olderVersionsBackupsAreListedAndKept()
{
    addEntry("C");
    const CBookBackups backups(m_file);
    const QString made = backups.List().front().name;
    const QString older = "kelvo-20240131-235959.mdb";
    QVERIFY(QFile::copy(backups.PathOf(made), backupFolder() + "/" + older));
    OutsideConnection(backupFolder() + "/" + older).exec("DROP TABLE kelvo_backup");
    for (int i = 0; i < 12; ++i)
        addEntry(QString::number(i));
    const auto listed = backups.List();
    QCOMPARE(listed.front().name, older);
    QVERIFY(!listed.front().ours());
    QCOMPARE(listed.front().made, QDateTime(QDate(2024, 1, 31), QTime(23, 59, 59)).toUTC());
    QCOMPARE(listed.front().entries, 2);
    QVERIFY(listed.front().complete());
    QVERIFY(backups.PathOf("../kelvo.mdb").isEmpty());
    QVERIFY(backups.PathOf(".kelvo-backup-x.part").isEmpty());
}

QTEST_GUILESS_MAIN(tst_Backups)
#include "tst_backups.moc"
