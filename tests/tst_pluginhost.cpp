#include "cplugindll.h"
#include "cpluginhost.h"
#include "userplugindir.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <thread>
#include <unistd.h>

#include <dlfcn.h>

class tst_PluginHost : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void loadsWorkersAndSkipsBadFiles();
    void openRefusesMissingDirectory();
    void emptyDirectoryHasNoPlugins();
    void currentDirHasNoTrailingSeparator();
    void fillPluginArrayByType();
    void getPluginAtOutsideRange();
    void filledArrayOutlivesNeitherSideBadly();
    void truncatedModulesAreSkipped_data();
    void truncatedModulesAreSkipped();
    void hostsCloseInAnyOrder_data();
    void hostsCloseInAnyOrder();
    void ownModulesReplaceSharedOnes();
    void userFolderIsMadeOnceFromTheSkeleton();
    void firstStartsKilledOrAtOnceLeaveAWholeFolder();
    void foldersOthersControlAreRefused();

private:
    void copyModule(const QString &fromDir, const QString &fileName);

    std::unique_ptr<QTemporaryDir> m_dir;
};

void tst_PluginHost::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void tst_PluginHost::copyModule(const QString &fromDir, const QString &fileName)
{
    QVERIFY2(QFile::copy(fromDir + '/' + fileName, m_dir->filePath(fileName)), qPrintable(fileName));
}

static const QStringList sampleWorkers = {"FileWorker.so", "FtpWorker.so", "GopherWorker.so",
                                          "HttpWorker.so", "HttpsWorker.so"};

void tst_PluginHost::loadsWorkersAndSkipsBadFiles()
{
    for (const QString &worker : sampleWorkers)
        copyModule(KELVO_PLUGIN_DIR, worker);
    copyModule(KELVO_TEST_PLUGIN_DIR, "noexports.so");
    QFile text(m_dir->filePath("notes.so"));
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("this is text, not a module\n");
    text.close();
    QFile readme(m_dir->filePath("README"));  // not named like a module: ignored silently
    QVERIFY(readme.open(QIODevice::WriteOnly));
    readme.close();

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Skipping .*noexports\\.so: .*GetPluginName"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Skipping .*notes\\.so: .+"));
    QString why;
    auto host = CPluginHost::Open(m_dir->path(), &why);
    QVERIFY2(host, qPrintable(why));
    // The caller hears of every skipped file too, with its reason.
    QCOMPARE(host->Skipped().size(), 2u);
    QCOMPARE(QFileInfo(host->Skipped()[0].path).fileName(), QStringLiteral("noexports.so"));
    QVERIFY(host->Skipped()[0].reason.contains("GetPluginName"));
    QCOMPARE(QFileInfo(host->Skipped()[1].path).fileName(), QStringLiteral("notes.so"));

    CPluginArray *plugins = host->Plugins();
    QCOMPARE(plugins->GetPluginCount(), sampleWorkers.size());
    const QList<ServiceCode> services = {Service::File, Service::Ftp, Service::Gopher,
                                         Service::Http, Service::Https};
    for (int i = 0; i < plugins->GetPluginCount(); ++i) {
        auto *worker = dynamic_cast<CPubWorkerPluginDLL *>(plugins->GetPluginAt(i));
        QVERIFY(worker);
        QCOMPARE(worker->GetPluginFileName(), sampleWorkers[i]);
        QString typeString;
        QCOMPARE(worker->GetPluginType(&typeString), int(PLUGINTYPE_PUBWORKER));
        QCOMPARE(typeString, QStringLiteral("PLUGINTYPE_PUBWORKER"));
        QVERIFY(worker->GetPluginName().endsWith(QStringLiteral("-Publishing-Worker")));
        QCOMPARE(worker->GetSupportedService(), services[i]);
        worker->ShowPluginDialog();  // workers have no About box: nothing happens
    }

    // The modules stay mapped after their host goes.
    host.reset();
    for (const QString &worker : sampleWorkers) {
        void *handle = dlopen(QFile::encodeName(m_dir->filePath(worker)).constData(), RTLD_NOW | RTLD_NOLOAD);
        QVERIFY2(handle, qPrintable(worker));
        dlclose(handle);
    }
}

void tst_PluginHost::openRefusesMissingDirectory()
{
    QString why;
    QVERIFY(!CPluginHost::Open(m_dir->filePath("missing"), &why));
    QVERIFY(why.contains("missing"));
    QVERIFY(!GetCurrentPluginArray());
    QVERIFY(GetCurrentPluginDir().isEmpty());
}

void tst_PluginHost::emptyDirectoryHasNoPlugins()
{
    const auto host = CPluginHost::Open(m_dir->path(), nullptr);
    QVERIFY(host);
    QCOMPARE(host->Plugins()->GetPluginCount(), 0);
    QCOMPARE(GetCurrentPluginArray(), host->Plugins());
}

void tst_PluginHost::currentDirHasNoTrailingSeparator()
{
    {
        const auto host = CPluginHost::Open(m_dir->path() + "/./", nullptr);
        QVERIFY(host);
        QCOMPARE(GetCurrentPluginDir(), QDir(m_dir->path()).canonicalPath());
        QVERIFY(!GetCurrentPluginDir().endsWith('/'));
    }
    QVERIFY(GetCurrentPluginDir().isEmpty());
}

void tst_PluginHost::fillPluginArrayByType()
{
    for (const QString &worker : sampleWorkers)
        copyModule(KELVO_PLUGIN_DIR, worker);
    const auto host = CPluginHost::Open(m_dir->path(), nullptr);
    QVERIFY(host);

    CPluginArray workers;
    QCOMPARE(host->Plugins()->FillPluginArray(&workers, PLUGINTYPE_PUBWORKER), 5);
    QCOMPARE(workers.GetPluginCount(), 5);
    QCOMPARE(workers.GetPluginAt(0), host->Plugins()->GetPluginAt(0));

    CPluginArray books;
    QCOMPARE(host->Plugins()->FillPluginArray(&books, PLUGINTYPE_SERVERBOOK), 0);
    QCOMPARE(books.GetPluginCount(), 0);
    QCOMPARE(host->Plugins()->FillPluginArray(nullptr, PLUGINTYPE_PUBWORKER), 0);
}

void tst_PluginHost::getPluginAtOutsideRange()
{
    copyModule(KELVO_PLUGIN_DIR, "FtpWorker.so");
    const auto host = CPluginHost::Open(m_dir->path(), nullptr);
    QVERIFY(host);
    const CPluginArray *plugins = host->Plugins();
    QVERIFY(plugins->GetPluginAt(0));
    QVERIFY(!plugins->GetPluginAt(-1));
    QVERIFY(!plugins->GetPluginAt(1));
    QVERIFY(!plugins->GetPluginAt(INT_MIN));
    QVERIFY(!CPluginArray().GetPluginAt(0));
}

// A dialog's own worker array may be destroyed before or after the host's;
// either way no module is released twice or used after it was unloaded (the
// sanitizer run catches both).
void tst_PluginHost::filledArrayOutlivesNeitherSideBadly()
{
    copyModule(KELVO_PLUGIN_DIR, "HttpWorker.so");
    auto host = CPluginHost::Open(m_dir->path(), nullptr);
    QVERIFY(host);
    {
        CPluginArray workers;
        host->Plugins()->FillPluginArray(&workers, PLUGINTYPE_PUBWORKER);
    }
    QCOMPARE(host->Plugins()->GetPluginAt(0)->GetPluginName(), QStringLiteral("HTTP-Publishing-Worker"));

    auto workers = std::make_unique<CPluginArray>();
    host->Plugins()->FillPluginArray(workers.get(), PLUGINTYPE_PUBWORKER);
    host.reset();
    QCOMPARE(workers->GetPluginAt(0)->GetPluginName(), QStringLiteral("HTTP-Publishing-Worker"));
}

// A module copied only in part (a copy still under way) would fault inside
// the loader; it is skipped with a reason like any other bad file.
void tst_PluginHost::truncatedModulesAreSkipped_data()
{
    QTest::addColumn<qint64>("keep");
    QTest::newRow("inside the ELF header") << qint64(20);
    QTest::newRow("inside the program headers") << qint64(100);
    QTest::newRow("inside the segments") << qint64(30000);
}

void tst_PluginHost::truncatedModulesAreSkipped()
{
    QFETCH(qint64, keep);
    QFile whole(KELVO_PLUGIN_DIR "/Kelvo.so");
    QVERIFY(whole.open(QIODevice::ReadOnly));
    const QByteArray bytes = whole.readAll();
    QFile cut(m_dir->filePath("A_trunc.so"));
    QVERIFY(cut.open(QIODevice::WriteOnly));
    cut.write(bytes.left(keep));
    cut.close();
    copyModule(KELVO_PLUGIN_DIR, "FtpWorker.so");

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Skipping .*A_trunc\\.so: .*cut short"));
    const auto host = CPluginHost::Open(m_dir->path(), nullptr);
    QVERIFY(host);
    QCOMPARE(host->Plugins()->GetPluginCount(), 1);
    QCOMPARE(host->Plugins()->GetPluginAt(0)->GetPluginFileName(), QStringLiteral("FtpWorker.so"));
}

// Hosts opened one after the other and destroyed in either order: the current
// host is always one still open (the sanitizer run catches a freed one).
void tst_PluginHost::hostsCloseInAnyOrder_data()
{
    QTest::addColumn<bool>("firstGoesFirst");
    QTest::newRow("first opened, first destroyed") << true;
    QTest::newRow("last opened, first destroyed") << false;
}

void tst_PluginHost::hostsCloseInAnyOrder()
{
    QFETCH(bool, firstGoesFirst);
    QTemporaryDir otherDir;
    auto first = CPluginHost::Open(m_dir->path(), nullptr);
    auto second = CPluginHost::Open(otherDir.path(), nullptr);
    QVERIFY(first && second);
    QCOMPARE(GetCurrentPluginDir(), second->Dir());
    if (firstGoesFirst) {
        first.reset();
        QCOMPARE(GetCurrentPluginDir(), second->Dir());
        second.reset();
    } else {
        second.reset();
        QCOMPARE(GetCurrentPluginDir(), first->Dir());
        QCOMPARE(GetCurrentPluginArray(), first->Plugins());
        first.reset();
    }
    QVERIFY(GetCurrentPluginDir().isEmpty());
    QVERIFY(!GetCurrentPluginArray());
}

QTEST_GUILESS_MAIN(tst_PluginHost)
#include "tst_pluginhost.moc"

// An installed host: the system's modules and the user's own, the user's
// winning for the same file name; the user's folder is the current one.
void tst_PluginHost::ownModulesReplaceSharedOnes()
{
    QVERIFY(QDir(m_dir->path()).mkpath("system") && QDir(m_dir->path()).mkpath("own"));
    for (const QString worker : {"FileWorker.so", "FtpWorker.so"})
        QVERIFY(QFile::copy(KELVO_PLUGIN_DIR "/" + worker, m_dir->filePath("system/" + worker)));
    QVERIFY(QFile::copy(KELVO_TEST_PLUGIN_DIR "/ZFtpWorker.so", m_dir->filePath("own/FtpWorker.so")));
    QString why;
    const auto host = CPluginHost::Open(m_dir->filePath("own"), &why, {m_dir->filePath("system")});
    QVERIFY2(host, qPrintable(why));
    QCOMPARE(GetCurrentPluginDir(), QDir(m_dir->filePath("own")).absolutePath());
    CPluginArray *plugins = host->Plugins();
    QCOMPARE(plugins->GetPluginCount(), 2);
    QCOMPARE(plugins->GetPluginAt(0)->GetPluginName(), QStringLiteral("Datei-Publishing-Worker"));
    QCOMPARE(plugins->GetPluginAt(1)->GetPluginFileName(), QStringLiteral("FtpWorker.so"));
    QCOMPARE(plugins->GetPluginAt(1)->GetPluginName(), QStringLiteral("Alternativer FTP-Worker"));

    QVERIFY(!CPluginHost::Open(m_dir->filePath("own"), &why, {m_dir->filePath("missing")}));
    QVERIFY(why.contains("missing"));
}

void tst_PluginHost::userFolderIsMadeOnceFromTheSkeleton()
{
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir->filePath("data")));
    const QString user = UserPluginDir();
    QCOMPARE(user, m_dir->filePath("data/ostrel/plugins"));
    QVERIFY(QDir(m_dir->path()).mkpath("skel/DATA"));
    QFile book(m_dir->filePath("skel/DATA/kelvo.mdb"));
    QVERIFY(book.open(QIODevice::WriteOnly) && book.write("leer") == 4);
    book.close();
    QVERIFY(book.setPermissions(QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));

    QString why;
    QVERIFY2(PrepareUserPluginDir(user, m_dir->filePath("skel"), &why), qPrintable(why));
    QFile copied(user + "/DATA/kelvo.mdb");
    QVERIFY(copied.open(QIODevice::ReadOnly));
    QCOMPARE(copied.readAll(), QByteArray("leer"));
    // The user's to change, and nobody else's to read.
    QCOMPARE(copied.permissions(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    QCOMPARE(QFileInfo(m_dir->filePath("data/ostrel")).permissions(),
             QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadUser | QFile::WriteUser | QFile::ExeUser);

    // A book the user removed does not come back on the next start.
    QVERIFY(copied.remove());
    QVERIFY(PrepareUserPluginDir(user, m_dir->filePath("skel"), &why));
    QVERIFY(!copied.exists());

    // A folder that cannot be made is named with the system's reason.
    QFile blocker(m_dir->filePath("file"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QVERIFY(!PrepareUserPluginDir(m_dir->filePath("file/ostrel/plugins"), m_dir->filePath("skel"), &why));
    QVERIFY2(why.contains(m_dir->filePath("file/ostrel")) && why.contains(QString::fromLocal8Bit(strerror(ENOTDIR))),
             qPrintable(why));
    // A relative XDG_DATA_HOME would lead wherever the program was started.
    qputenv("XDG_DATA_HOME", "rel/data");
    QCOMPARE(UserPluginDir(), QDir::homePath() + "/.local/share/ostrel/plugins");
    qunsetenv("XDG_DATA_HOME");
}

// A first start killed before its folder was whole leaves nothing at the
// path: the next one makes it. Starts at once all find it whole. Without
// the skeleton nothing is made, and the skeleton put back is used.
void tst_PluginHost::firstStartsKilledOrAtOnceLeaveAWholeFolder()
{
    QVERIFY(QDir(m_dir->path()).mkpath("skel/DATA"));
    QFile book(m_dir->filePath("skel/DATA/kelvo.mdb"));
    QVERIFY(book.open(QIODevice::WriteOnly) && book.write("leer") == 4);
    book.close();
    const QString skeleton = m_dir->filePath("skel");
    const QString user = m_dir->filePath("data/ostrel/plugins");
    QString why;

    QVERIFY(!PrepareUserPluginDir(user, m_dir->filePath("fehlt"), &why));
    QVERIFY2(why.contains("Vorlage"), qPrintable(why));
    QVERIFY(!QFileInfo::exists(user));

    // What a start killed while it copied leaves: a folder of its own name.
    QVERIFY(QDir().mkpath(user + ".new-abc123/DATA"));
    QVERIFY2(PrepareUserPluginDir(user, skeleton, &why), qPrintable(why));
    QVERIFY(QFileInfo::exists(user + "/DATA/kelvo.mdb"));

    const QString others = m_dir->filePath("others/ostrel/plugins");
    std::vector<std::thread> starts;
    std::atomic<int> succeeded = 0;
    for (int i = 0; i < 8; ++i) {
        starts.emplace_back([&] {
            QString reason;
            if (PrepareUserPluginDir(others, skeleton, &reason) && QFileInfo::exists(others + "/DATA/kelvo.mdb"))
                ++succeeded;
        });
    }
    for (std::thread &start : starts)
        start.join();
    QCOMPARE(succeeded.load(), 8);
    QCOMPARE(QDir(m_dir->filePath("others/ostrel")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList{"plugins"});
}

// Modules and the book only where no other user can put or change them: a
// folder others may write into, or one of another user behind a link, is
// refused with the reason.
void tst_PluginHost::foldersOthersControlAreRefused()
{
    const QString open = m_dir->filePath("offen");
    QVERIFY(QDir().mkpath(open));
    QVERIFY(QFile::copy(KELVO_PLUGIN_DIR "/FtpWorker.so", open + "/FtpWorker.so"));
    QVERIFY(QFile::setPermissions(open, QFileDevice::Permissions(0x7777)));
    QString why;
    QVERIFY(!CPluginHost::Open(open, &why));
    QVERIFY2(why.contains("andere Benutzer") && why.contains("chmod go-w"), qPrintable(why));

    // Another user's folder behind the user's own link, as root can stage it.
    if (geteuid() == 0) {
        const QString theirs = m_dir->filePath("fremd");
        QVERIFY(QDir().mkpath(theirs));
        QVERIFY(QFile::copy(KELVO_PLUGIN_DIR "/FtpWorker.so", theirs + "/FtpWorker.so"));
        QCOMPARE(chown(QFile::encodeName(theirs).constData(), 65534, 65534), 0);
        QVERIFY(QFile::link(theirs, m_dir->filePath("verweis")));
        QVERIFY(!CPluginHost::Open(m_dir->filePath("verweis"), &why));
        QVERIFY2(why.contains("anderen Benutzer"), qPrintable(why));
    }
    QVERIFY(QFile::setPermissions(open, QFileDevice::Permissions(0x7700)));
    QVERIFY2(CPluginHost::Open(open, &why), qPrintable(why));
}
