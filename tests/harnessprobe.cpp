// Not a test of the product: test functions that fail on purpose, run by
// tst_harness to prove that the helpers turn set-up faults and actions that
// never ran into failures with a message, instead of crashes or answers to
// the next test's dialogs.

#include "modalhelper.h"
#include "moduletest.h"

#include <QMessageBox>

namespace {
bool g_leftoverRan = false;
}

class HarnessProbe : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { verifyNothingLeftOpen(); }

    void moduleMissing()
    {
        KELVO_LOAD_MODULE(module, {}, QStringLiteral("/nonexistent-plugin-dir"));
        module.book()->ShowServerBook(0);  // never reached: it would crash
    }

    void actionNeverRuns()
    {
        whenModal([](QWidget *) { g_leftoverRan = true; });
    }

    void nextTestAnswersItsOwnDialog()
    {
        bool answered = false;
        whenModal([&answered](QWidget *box) {
            answered = true;
            QTest::keyClick(box, Qt::Key_Return);
        });
        QMessageBox::information(nullptr, QString(), QStringLiteral("Probe"));
        QVERIFY(answered);
        QVERIFY(!g_leftoverRan);
    }
};

QTEST_MAIN(HarnessProbe)
#include "harnessprobe.moc"
