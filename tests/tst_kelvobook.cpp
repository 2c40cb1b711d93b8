#include "addresslimit.h"
#include "storefixture.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/resource.h>

// The command-line tools as scripts use them: exit codes, output that cannot
// be forged or lost, messages on stderr, and books that are never lost.
class tst_KelvoBook : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }
    void initAddListDelete();
    void failuresGoToStderrWithNonZeroExit();
    void initNeverRemovesWhatItDidNotCreate();
    void concurrentInitsLoseNoBook();
    void deleteSaysWhatItDeletedAndChecksTheLabel();
    void outputCannotBeForged();
    void failedWritesAreFailures_data();
    void failedWritesAreFailures();
    void messagesSayWhatIsWrong_data();
    void messagesSayWhatIsWrong();
    void demoHostEndsOnAnUnlistableBook();
    void editChangesOnlyTheGivenFields();
    void backupsListAndRestore();
    void brokenBackupIsNamed();
    void wordsThatAreNotUtf8AreRefused();
    void memoryRunningOutIsAFailureNotACrash();
    void shellHabitsAreKept();

private:
    struct Run {
        int exitCode;
        QString out, err;
    };
    Run run(const QStringList &args, const QString &tool = QStringLiteral("kelvo-book"));
    QProcess *start(const QStringList &args);
    QString book() const { return m_dir->filePath("DATA/kelvo.mdb"); }

    std::unique_ptr<QTemporaryDir> m_dir;
};

QProcess *tst_KelvoBook::start(const QStringList &args)
{
    auto *process = new QProcess(this);
    process->start(KELVO_TOOLS_DIR "/kelvo-book", QStringList{"--plugin-dir", m_dir->path()} + args);
    return process;
}

tst_KelvoBook::Run tst_KelvoBook::run(const QStringList &args, const QString &tool)
{
    QProcess process;
    process.setProcessEnvironment([] {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        return env;
    }());
    process.start(KELVO_TOOLS_DIR "/" + tool, QStringList{"--plugin-dir", m_dir->path()} + args);
    if (!process.waitForFinished(20000))
        return {-1, {}, "did not finish"};
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2,
            QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
}

void tst_KelvoBook::initAddListDelete()
{
    QCOMPARE(run({"init"}).exitCode, 0);
    QVERIFY(QFile::exists(book()));
    QCOMPARE(run({"add", "Größe", "ftp://h/ä", "/ä", "FtpWorker.so"}).exitCode, 0);
    QCOMPARE(run({"add", "Zwei", "http://z/", "/", "HttpWorker.so"}).exitCode, 0);
    QCOMPARE(run({"list"}).out, QStringLiteral("0\tGröße\tftp://h/ä\t/ä\tFtpWorker.so\n"
                                               "1\tZwei\thttp://z/\t/\tHttpWorker.so\n"));
    // find matches any part of the three texts, case and accents aside, with ordinals as list gives them.
    QCOMPARE(run({"find", "GROSSE"}).out, QStringLiteral("0\tGröße\tftp://h/ä\t/ä\tFtpWorker.so\n"));
    QCOMPARE(run({"find", "z/"}).out, QStringLiteral("1\tZwei\thttp://z/\t/\tHttpWorker.so\n"));
    const Run json = run({"find", "/A", "--json"});
    QCOMPARE(json.exitCode, 0);
    QCOMPARE(QJsonDocument::fromJson(json.out.toUtf8()).array().size(), 1);
    QCOMPARE(run({"find", "nirgends"}).out, QString());
    QCOMPARE(run({"delete", "0"}).exitCode, 0);
    QCOMPARE(run({"list"}).out, QStringLiteral("0\tZwei\thttp://z/\t/\tHttpWorker.so\n"));
}

void tst_KelvoBook::failuresGoToStderrWithNonZeroExit()
{
    for (const char *command : {"list", "backups"}) {
        Run missing = run({command});
        QCOMPARE(missing.exitCode, 1);
        QVERIFY2(missing.err.contains("kelvo.mdb") && missing.err.contains("kelvo-book init"), qPrintable(missing.err));
        QVERIFY(missing.out.isEmpty());
    }

    QCOMPARE(run({"init"}).exitCode, 0);
    // Wrong usage is 2, and the message names the word that was wrong.
    const QList<std::pair<QStringList, QString>> wrong = {
        {{"add", "nur", "zwei"}, "add"}, {{"delete", "x"}, "\"x\""}, {{"delete", "-1"}, "\"-1\""},
        {{"delete", "0", "--frob"}, "\"--frob\""}, {{"frobnicate"}, "\"frobnicate\""},
        {{"list", "--label", "x"}, "\"--label\""}, {{"--bogus", "list"}, "bogus"},
        {{"export", "--format", "xml"}, "\"xml\""}};
    for (const auto &[words, named] : wrong) {
        const Run refused = run(words);
        QCOMPARE(refused.exitCode, 2);
        QVERIFY2(refused.err.section('\n', 0, 0).contains(named), qPrintable(refused.err));
    }
    for (const QString tool : {"kelvo-book", "ostrel-host"})
        QCOMPARE(run({"--version"}, tool).out, tool + " " KELVO_VERSION "\n");
    const Run unknownCommand = run({"frob"}, "ostrel-host");
    QCOMPARE(unknownCommand.exitCode, 2);
    QVERIFY2(unknownCommand.err.contains("\"frob\""), qPrintable(unknownCommand.err));
    const Run noRow = run({"delete", "3"});
    QCOMPARE(noRow.exitCode, 1);
    QVERIFY(noRow.err.contains("3"));
    const Run again = run({"init"});
    QCOMPARE(again.exitCode, 1);
    QVERIFY(again.err.contains("existiert bereits"));
    QCOMPARE(run({"list"}).out, QString());  // nothing half-done was left behind
}

// init creates its file exclusively and removes, on failure, only that file:
// another book and a link standing at the path survive.
void tst_KelvoBook::initNeverRemovesWhatItDidNotCreate()
{
    QVERIFY(QDir().mkpath(m_dir->filePath("DATA")));
    QVERIFY(QFile::link(m_dir->filePath("nowhere.mdb"), book()));
    const Run onLink = run({"init"});
    QCOMPARE(onLink.exitCode, 1);
    QVERIFY2(onLink.err.contains("existiert bereits"), qPrintable(onLink.err));
    QVERIFY(QFileInfo(book()).isSymLink());
}

// Inits racing each other, and an init racing "init && add": at most one
// creates the book, the book always exists afterwards, and its rows survive.
void tst_KelvoBook::concurrentInitsLoseNoBook()
{
    for (int round = 0; round < 15; ++round) {
        init();
        QProcess *first = start({"init"});
        QProcess *second = start({"init"});
        QVERIFY(first->waitForFinished(20000) && second->waitForFinished(20000));
        QCOMPARE(first->exitCode() + second->exitCode(), 1);
        QVERIFY2(QFile::exists(book()), qPrintable(QString::number(round)));
        delete first;
        delete second;

        init();
        QProcess *racer = start({"init"});
        QProcess initAndAdd;
        initAndAdd.start("sh", {"-c", QStringLiteral("'%1' --plugin-dir '%2' init && '%1' --plugin-dir '%2' "
                                                     "add Mein ftp://m/ / FtpWorker.so")
                                          .arg(KELVO_TOOLS_DIR "/kelvo-book", m_dir->path())});
        QVERIFY(racer->waitForFinished(20000) && initAndAdd.waitForFinished(20000));
        QVERIFY(QFile::exists(book()));
        if (initAndAdd.exitCode() == 0)
            QCOMPARE(run({"list"}).out, QStringLiteral("0\tMein\tftp://m/\t/\tFtpWorker.so\n"));
        delete racer;
    }
}

// Another program deleted e0 after the script listed the book: ordinal 2 is
// now e3. With --label the tool refuses; without, it says what it deleted.
void tst_KelvoBook::deleteSaysWhatItDeletedAndChecksTheLabel()
{
    createStore(m_dir->path(), {{"e0", "ftp://e0/", "/", ""}, {"e1", "ftp://e1/", "/", ""},
                                {"e2", "ftp://e2/", "/", ""}, {"e3", "ftp://e3/", "/", ""}});
    QCOMPARE(run({"delete", "0"}).exitCode, 0);

    const Run refused = run({"delete", "2", "--label", "e2"});
    QCOMPARE(refused.exitCode, 1);
    QVERIFY2(refused.err.contains("e3") && refused.err.contains("nichts"), qPrintable(refused.err));
    QCOMPARE(run({"list"}).out.count('\n'), 3);

    const Run deleted = run({"delete", "2"});
    QCOMPARE(deleted.exitCode, 0);
    QCOMPARE(deleted.out, QStringLiteral("2\te3\tftp://e3/\t/\t\n"));
    QCOMPARE(run({"delete", "1", "--label", "e2"}).out, QStringLiteral("1\te2\tftp://e2/\t/\t\n"));
}

// A label with a tab or a line break cannot print lines of its own.
void tst_KelvoBook::outputCannotBeForged()
{
    createStore(m_dir->path(), {{"a\tb\nc\\d\re", "ftp://x/\n1\tfalsch\tftp://evil/\t/\tX.so", "/", "F.so"}});
    QCOMPARE(run({"list"}).out,
             QStringLiteral("0\ta\\tb\\nc\\\\d\\re\tftp://x/\\n1\\tfalsch\\tftp://evil/\\t/\\tX.so\t/\tF.so\n"));
    QVERIFY(run({"--help"}).out.contains("\\t"));

    const Run json = run({"list", "--json"});
    QCOMPARE(json.exitCode, 0);
    const QJsonArray entries = QJsonDocument::fromJson(json.out.toUtf8()).array();
    QCOMPARE(entries.size(), 1);
    const QJsonObject entry = entries[0].toObject();
    QCOMPARE(entry["ordinal"].toInt(), 0);
    QCOMPARE(entry["label"].toString(), QStringLiteral("a\tb\nc\\d\re"));
    QCOMPARE(entry["server"].toString(), QStringLiteral("ftp://x/\n1\tfalsch\tftp://evil/\t/\tX.so"));
    QCOMPARE(entry["startdir"].toString(), QStringLiteral("/"));
    QCOMPARE(entry["pluginfile"].toString(), QStringLiteral("F.so"));

    // Another program's escape sequences reach no terminal: every control
    // character is written as its escape, in lines and in messages.
    OutsideConnection(book()).exec("INSERT INTO Serverbook VALUES ('rot' || char(27) || '[31m' || char(155) || 'x', "
                                   "'ftp://y/', '/', 'F.so')");
    for (const QStringList &args : {QStringList{"list"}, QStringList{"find", "rot"}}) {
        const Run lines = run(args);
        QVERIFY2(lines.out.contains("rot\\x1b[31m\\u009bx\t"), qPrintable(lines.out));
        QVERIFY(!lines.out.contains(QChar(27)) && !lines.out.contains(QChar(155)));
    }
    // And none is stored.
    const Run added = run({"add", QStringLiteral("a%1b").arg(QChar(27)), "ftp://z/", "/", "F.so"});
    QCOMPARE(added.exitCode, 1);
    QVERIFY2(added.err.contains("enthält \\x1b") && !added.err.contains(QChar(27)), qPrintable(added.err));
}

// Output that could not be written is a failure, not a result.
void tst_KelvoBook::failedWritesAreFailures_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QStringList>("args");
    QTest::newRow("kelvo-book list") << "kelvo-book" << QStringList{"list"};
    QTest::newRow("kelvo-book list --json") << "kelvo-book" << QStringList{"list", "--json"};
    QTest::newRow("ostrel-host list") << "ostrel-host" << QStringList{"list"};
}

void tst_KelvoBook::failedWritesAreFailures()
{
    QFETCH(QString, tool);
    QFETCH(QStringList, args);
    createStore(m_dir->path(), {{"A", "ftp://a/", "/", "FtpWorker.so"}});
    QVERIFY(QFile::copy(KELVO_PLUGIN_DIR "/FtpWorker.so", m_dir->filePath("FtpWorker.so")));
    QProcess process;
    process.setStandardOutputFile("/dev/full");
    process.start(KELVO_TOOLS_DIR "/" + tool, QStringList{"--plugin-dir", m_dir->path()} + args);
    QVERIFY(process.waitForFinished(20000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 1);
    QVERIFY(process.readAllStandardError().contains("Ausgabe"));
}

void tst_KelvoBook::messagesSayWhatIsWrong_data()
{
    QTest::addColumn<QString>("schema");
    QTest::addColumn<QString>("expected");
    QTest::newRow("a folder at the path") << "folder" << "Ordner";
    QTest::newRow("a view") << "CREATE VIEW Serverbook AS SELECT 1 AS Bezeichnung, 2 AS Servername, "
                               "3 AS Startverzeichnis, 4 AS Plugindateiname"
                            << "keine Tabelle";
    QTest::newRow("no table") << "CREATE TABLE Andere (x)" << "keine Tabelle Serverbook (no such table";
    QTest::newRow("not a database") << "text" << "keine SQLite-Datenbank (file is not a database)";
}

void tst_KelvoBook::messagesSayWhatIsWrong()
{
    QFETCH(QString, schema);
    QFETCH(QString, expected);
    QVERIFY(QDir().mkpath(m_dir->filePath("DATA")));
    if (schema == "folder") {
        QVERIFY(QDir().mkpath(book()));
    } else if (schema == "text") {
        QFile file(book());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(4096, 'x'));
    } else {
        OutsideConnection(book()).exec(schema);
    }
    const Run listed = run({"list"});
    QCOMPARE(listed.exitCode, 1);
    QVERIFY2(listed.err.contains(expected), qPrintable(listed.err));
}

// Offscreen the demo host pictures and cancels every modal dialog, so it ends
// even when an error box comes first; a book it cannot show is exit 1 with
// the reason.
void tst_KelvoBook::demoHostEndsOnAnUnlistableBook()
{
    QVERIFY(QFile::copy(KELVO_PLUGIN_DIR "/Kelvo.so", m_dir->filePath("Kelvo.so")));
    QVERIFY(QDir().mkpath(m_dir->filePath("DATA")));
    OutsideConnection(book()).exec("CREATE TABLE Serverbook (Bezeichnung TEXT PRIMARY KEY, Servername, "
                                   "Startverzeichnis, Plugindateiname) WITHOUT ROWID");
    const Run shown = run({"serverbook"}, "ostrel-host");
    QCOMPARE(shown.exitCode, 1);
    QVERIFY2(shown.err.contains("nicht auflisten"), qPrintable(shown.err));
}

void tst_KelvoBook::editChangesOnlyTheGivenFields()
{
    createStore(m_dir->path(), {{"A", "ftp://a/", "/a", "FtpWorker.so"}, {"B", "ftp://b/", "/b", "FtpWorker.so"}});
    const Run edited = run({"edit", "1", "--server", "http://b/", "--pluginfile", "HttpWorker.so"});
    QCOMPARE(edited.exitCode, 0);
    QCOMPARE(edited.out, QStringLiteral("1\tB\thttp://b/\t/b\tHttpWorker.so\n"));

    const Run refused = run({"edit", "1", "--label", "C", "--expect-label", "A"});
    QCOMPARE(refused.exitCode, 1);
    QVERIFY2(refused.err.contains("nichts wurde geändert"), qPrintable(refused.err));
    const Run tooLong = run({"edit", "0", "--startdir", QString(129, 'x')});
    QCOMPARE(tooLong.exitCode, 1);
    QVERIFY2(tooLong.err.contains("128"), qPrintable(tooLong.err));
    QCOMPARE(run({"add", QString(129, QChar(u'ä')), "s", "d", "p"}).exitCode, 1);
    QCOMPARE(run({"edit", "0", "--label", QString(128, QChar(u'ä'))}).exitCode, 0);
    QCOMPARE(run({"edit", "-1", "--label", "x"}).exitCode, 2);

    QCOMPARE(run({"list"}).out, QString(QString::number(0) + "\t" + QString(128, QChar(u'ä'))
                                        + "\tftp://a/\t/a\tFtpWorker.so\n1\tB\thttp://b/\t/b\tHttpWorker.so\n"));
}

// Every writing command backs the book up first; restore brings a backup's
// rows back after backing up the state it replaces.
void tst_KelvoBook::backupsListAndRestore()
{
    createStore(m_dir->path(), {{"A", "ftp://a/", "/", ""}, {"B", "ftp://b/", "/", ""}});
    QCOMPARE(run({"list"}).exitCode, 0);
    QCOMPARE(run({"backups"}).out, QString());  // reading backs up nothing
    QCOMPARE(run({"delete", "0"}).exitCode, 0);
    QCOMPARE(run({"add", "C", "ftp://c/", "/", ""}).exitCode, 0);

    const QStringList lines = run({"backups"}).out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    const QStringList first = lines[0].split('\t');
    QCOMPARE(first.size(), 4);
    QVERIFY(first[0].startsWith("kelvo-") && first[0].endsWith("Z.mdb"));
    QCOMPARE(first[1].size(), qsizetype(19));  // yyyy-MM-dd HH:mm:ss
    QCOMPARE(first[2], QStringLiteral("2"));
    // Restoring the first brings A back and drops C.
    QCOMPARE(first[3], QStringLiteral("+1 / \u22121 / 0 geändert"));
    QCOMPARE(lines[1].split('\t')[2], QStringLiteral("1"));

    QCOMPARE(run({"restore", "nicht-da.mdb"}).exitCode, 1);
    QCOMPARE(run({"restore", "../kelvo.mdb"}).exitCode, 1);
    const Run dryRun = run({"restore", "--dry-run", first[0]});
    QCOMPARE(dryRun.exitCode, 0);
    QCOMPARE(dryRun.out, QStringLiteral("kommt zurück\tA\nfällt weg\tC\n+1 / \u22121 / 0 geändert "
                                        "(Probelauf: nichts wurde geändert)\n"));
    QCOMPARE(run({"list"}).out, QStringLiteral("0\tB\tftp://b/\t/\t\n1\tC\tftp://c/\t/\t\n"));

    const Run restored = run({"restore", first[0]});
    QCOMPARE(restored.exitCode, 0);
    QVERIFY2(restored.out.startsWith("Wiederhergestellt aus " + first[0] + ": 2 Einträge (+1 / \u22121 / 0 geändert)"),
             qPrintable(restored.out));
    QCOMPARE(run({"list"}).out, QStringLiteral("0\tA\tftp://a/\t/\t\n1\tB\tftp://b/\t/\t\n"));
    const QStringList after = run({"backups"}).out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(after.size(), 3);
    QVERIFY(after[0].startsWith(first[0] + '\t'));  // the backup restored from stays
    QVERIFY(restored.out.trimmed().endsWith(after[2].split('\t')[0]));
    QVERIFY(after[2].endsWith("\t+1 / \u22121 / 0 geändert"));  // restoring that undoes the restore
}

// A broken backup is listed as such and refused by name.
void tst_KelvoBook::brokenBackupIsNamed()
{
    createStore(m_dir->path(), {{"A", "ftp://a/", "/", ""}});
    QCOMPARE(run({"add", "B", "ftp://b/", "/", ""}).exitCode, 0);
    const QString name = run({"backups"}).out.split('\t').first();
    const QString path = m_dir->path() + "/DATA/backup/" + name;
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.resize(100));
    file.close();
    QVERIFY2(run({"backups"}).out.contains("\t-\tbeschädigt"), qPrintable(run({"backups"}).out));
    for (const QStringList &args : {QStringList{"restore", name}, QStringList{"restore", "--dry-run", name}}) {
        const Run refused = run(args);
        QCOMPARE(refused.exitCode, 1);
        QVERIFY2(refused.err.contains("Sicherung " + path), qPrintable(refused.err));
    }
    QCOMPARE(run({"list"}).out.count('\n'), 2);
}

// As GNU tools do: help per command, in German; a wrong call is one line
// and where help is; find without a match is 1, as grep; add finds the
// worker from the address.
void tst_KelvoBook::shellHabitsAreKept()
{
    QVERIFY(QFile::copy(KELVO_PLUGIN_DIR "/FtpWorker.so", m_dir->filePath("FtpWorker.so")));
    QCOMPARE(run({"init"}).exitCode, 0);
    for (const QStringList &asked : {QStringList{"add", "--help"}, QStringList{"help", "add"}, QStringList{"add", "-h"}}) {
        const Run help = run(asked);
        QCOMPARE(help.exitCode, 0);
        QVERIFY2(help.out.startsWith("Aufruf: kelvo-book [--plugin-dir ORDNER] add BEZEICHNUNG SERVER"), qPrintable(help.out));
    }
    const Run overview = run({"--help"});
    QVERIFY2(overview.out.startsWith("Aufruf: kelvo-book") && overview.out.contains("Befehle:")
                 && !overview.out.contains("Usage") && !overview.out.contains("Options"),
             qPrintable(overview.out));
    const Run missing = run({"add", "x"});
    QCOMPARE(missing.exitCode, 2);
    QCOMPARE(missing.err, QStringLiteral("kelvo-book: add braucht BEZEICHNUNG, SERVER und STARTVERZEICHNIS; es fehlt "
                                         "SERVER und STARTVERZEICHNIS.\nkelvo-book add --help zeigt den Aufruf.\n"));
    const Run unknown = run({"--frob"});
    QCOMPARE(unknown.exitCode, 2);
    QCOMPARE(unknown.err, QStringLiteral("kelvo-book: unbekannte Option \"--frob\"; kelvo-book --help zeigt den Aufruf.\n"));

    QCOMPARE(run({"add", "Ohne Worker", "ftp://w.example/", "/"}).exitCode, 0);
    QCOMPARE(run({"add", "Ausdrücklich", "ftp://a.example/", "/", "Anderer.so"}).exitCode, 0);
    QCOMPARE(run({"list"}).out, QStringLiteral("0\tOhne Worker\tftp://w.example/\t/\tFtpWorker.so\n"
                                               "1\tAusdrücklich\tftp://a.example/\t/\tAnderer.so\n"));
    const Run noWorker = run({"add", "Web", "http://h.example/", "/"});
    QCOMPARE(noWorker.exitCode, 1);
    QVERIFY2(noWorker.err.contains("PLUGINDATEI"), qPrintable(noWorker.err));
    QCOMPARE(run({"find", "gibtsnicht"}).exitCode, 1);
    QCOMPARE(run({"find", "w.example"}).exitCode, 0);
    const Run demoHelp = run({"--help"}, "ostrel-host");
    QVERIFY2(demoHelp.out.startsWith("Aufruf: ostrel-host"), qPrintable(demoHelp.out));
}

// A folder named in Latin-1 bytes cannot pass through Qt unchanged: both
// tools refuse it by name instead of using a folder of another name.
void tst_KelvoBook::wordsThatAreNotUtf8AreRefused()
{
    for (const char *tool : {"kelvo-book", "ostrel-host"}) {
        QProcess process;
        process.start("/bin/sh", {"-c", QStringLiteral("exec \"$0\" --plugin-dir \"$(printf '%1/M\\374ller')\" list")
                                             .arg(m_dir->path()),
                                  KELVO_TOOLS_DIR "/" + QString::fromLatin1(tool)});
        QVERIFY(process.waitForFinished(20000));
        QCOMPARE(process.exitCode(), 2);
        const QString err = QString::fromUtf8(process.readAllStandardError());
        QVERIFY2(err.contains("M\\xfcller") && err.contains("UTF-8"), qPrintable(err));
    }
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
}

// An import larger than the memory the system grants ends with the reason
// and the book untouched, not with an abort.
void tst_KelvoBook::memoryRunningOutIsAFailureNotACrash()
{
#if KELVO_UNDER_ASAN
    QSKIP("AddressSanitizer maps its own memory beyond any limit set here");
#endif
    QCOMPARE(run({"init"}).exitCode, 0);
    QFile sites(m_dir->filePath("WinSCP.ini"));
    QVERIFY(sites.open(QIODevice::WriteOnly));
    for (int i = 0; i < 400000; ++i)
        sites.write(QStringLiteral("[Sessions\\s%1]\nHostName=h%1.example\nFSProtocol=5\n\n").arg(i).toLatin1());
    sites.close();
    QProcess tool;
    tool.setChildProcessModifier([] {
        const rlimit tight{rlim_t(200) << 20, rlim_t(200) << 20};
        setrlimit(RLIMIT_AS, &tight);
    });
    tool.start(KELVO_TOOLS_DIR "/kelvo-book", {"--plugin-dir", m_dir->path(), "import", sites.fileName()});
    QVERIFY(tool.waitForFinished(60000));
    QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
    QCOMPARE(tool.exitCode(), 1);
    QVERIFY2(tool.readAllStandardError().contains("Arbeitsspeicher"), "no reason given");
    QCOMPARE(OutsideConnection(book()).column("SELECT count(*) FROM Serverbook"), QStringList{"0"});
}

QTEST_GUILESS_MAIN(tst_KelvoBook)
#include "tst_kelvobook.moc"
