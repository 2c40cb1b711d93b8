#include <QProcess>
#include <QtTest>

// The test helpers themselves: a fixture whose set-up fails, and a modal
// action that never ran, fail their test with a message; the suite goes on,
// and nothing carries over into the next test.
class tst_Harness : public QObject
{
    Q_OBJECT

private slots:
    void faultsFailTheirTestAndNothingElse()
    {
        QProcess probe;
        probe.start(QStringLiteral(KELVO_TESTS_DIR "/harnessprobe"), {"-platform", "offscreen"});
        QVERIFY(probe.waitForFinished(60000));
        const QString output = QString::fromUtf8(probe.readAllStandardOutput());
        QCOMPARE(probe.exitStatus(), QProcess::NormalExit);
        QCOMPARE(probe.exitCode(), 2);  // Qt Test's count of failed functions
        QVERIFY2(output.contains(QRegularExpression("FAIL!  : HarnessProbe::moduleMissing\\(\\) .*nonexistent")),
                 qPrintable(output));
        QVERIFY2(output.contains(QRegularExpression("FAIL!  : HarnessProbe::actionNeverRuns\\(\\) .*never ran")),
                 qPrintable(output));
        QVERIFY2(output.contains("PASS   : HarnessProbe::nextTestAnswersItsOwnDialog()"), qPrintable(output));
    }
};

QTEST_GUILESS_MAIN(tst_Harness)
#include "tst_harness.moc"
