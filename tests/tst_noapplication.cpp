#include "moduletest.h"

#include <QtTest>

// A host without a QApplication: no dialog can be made, and the module says
// so through the result instead of taking the process down.
class tst_NoApplication : public QObject
{
    Q_OBJECT

private slots:
    void selectionEndsWithMinusOne();
};

void tst_NoApplication::selectionEndsWithMinusOne()
{
    KELVO_LOAD_MODULE(module);
    createStore(module.pluginDir(), {{"A", "ftp://a/", "/", "FtpWorker.so"}});
    const auto [result, entry] = module.select();
    QCOMPARE(result, -1);
    QCOMPARE(entry.strServer, QString());
    QCOMPARE(entry.strPluginFile, QString());
    module.book()->ShowPluginDialog();  // returns at once
}

QTEST_GUILESS_MAIN(tst_NoApplication)
#include "tst_noapplication.moc"
