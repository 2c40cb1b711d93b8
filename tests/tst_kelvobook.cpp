#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

// The store tool as scripts use it: exit codes, tab-separated output, stderr.
class tst_KelvoBook : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }
    void initAddListDelete();
    void failuresGoToStderrWithNonZeroExit();

private:
    struct Run {
        int exitCode;
        QString out, err;
    };
    Run run(const QStringList &args);

    std::unique_ptr<QTemporaryDir> m_dir;
};

tst_KelvoBook::Run tst_KelvoBook::run(const QStringList &args)
{
    QProcess process;
    process.start(KELVO_TOOLS_DIR "/kelvo-book", QStringList{"--plugin-dir", m_dir->path()} + args);
    if (!process.waitForFinished(20000))
        return {-1, {}, "did not finish"};
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

void tst_KelvoBook::initAddListDelete()
{
    QCOMPARE(run({"init"}).exitCode, 0);
    QVERIFY(QFile::exists(m_dir->filePath("DATA/kelvo.mdb")));
    QCOMPARE(run({"add", "Größe", "ftp://h/ä", "/ä", "FtpWorker.so"}).exitCode, 0);
    QCOMPARE(run({"add", "Zwei", "http://z/", "/", "HttpWorker.so"}).exitCode, 0);
    QCOMPARE(run({"list"}).out, QStringLiteral("0\tGröße\tftp://h/ä\t/ä\tFtpWorker.so\n"
                                               "1\tZwei\thttp://z/\t/\tHttpWorker.so\n"));
    QCOMPARE(run({"delete", "0"}).exitCode, 0);
    QCOMPARE(run({"list"}).out, QStringLiteral("0\tZwei\thttp://z/\t/\tHttpWorker.so\n"));
}

void tst_KelvoBook::failuresGoToStderrWithNonZeroExit()
{
    Run missing = run({"list"});
    QCOMPARE(missing.exitCode, 1);
    QVERIFY(missing.err.contains("kelvo.mdb"));
    QVERIFY(missing.out.isEmpty());

    QCOMPARE(run({"init"}).exitCode, 0);
    QCOMPARE(run({"add", "nur", "zwei"}).exitCode, 2);
    QCOMPARE(run({"delete", "x"}).exitCode, 2);
    QCOMPARE(run({"frobnicate"}).exitCode, 2);
    const Run noRow = run({"delete", "3"});
    QCOMPARE(noRow.exitCode, 1);
    QVERIFY(noRow.err.contains("3"));
    const Run again = run({"init"});
    QCOMPARE(again.exitCode, 1);
    QVERIFY(again.err.contains("existiert bereits"));
    QCOMPARE(run({"list"}).out, QString());  // nothing half-done was left behind
}

QTEST_GUILESS_MAIN(tst_KelvoBook)
#include "tst_kelvobook.moc"
