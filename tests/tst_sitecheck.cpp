// The site check against real servers that the test starts on the loopback
// interface (tests/servers/testserver.py): FTP, FTP with explicit and with
// implicit TLS, SFTP, HTTP and HTTPS, and a port that accepts and never
// answers; certificates and host keys made for the test.

#include "dialogdriver.h"
#include "sitecheck.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QProcess>
#include <QTreeWidget>

using namespace Ids;

namespace {

const std::vector<WorkerInfo> kWorkers = {{"FtpWorker.so", Service::Ftp}, {"HttpWorker.so", Service::Http},
                                          {"HttpsWorker.so", Service::Https}, {"FileWorker.so", Service::File}};

bool run(const QString &program, const QStringList &args)
{
    QProcess process;
    process.start(program, args);
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

} // namespace

class tst_SiteCheck : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void everyServerPassesEveryStep_data();
    void everyServerPassesEveryStep();
    void failuresAreSaidPlainly_data();
    void failuresAreSaidPlainly();
    void hostKeysAreKeptOnlyWhenTrusted();
    void writeTestLeavesNothingBehind();
    void cancelStopsTheCheck();
    void kelvoBookChecksWithExitCodes();
    void dialogShowsTheStepsAndCancels();

private:
    // Starts a server of testserver.py; its port.
    int startServer(const QStringList &args);
    CheckRequest request(const QString &server, const QString &startDir = "/www") const;

    QTemporaryDir m_dir;
    QList<QProcess *> m_servers;
    QString m_root, m_cert, m_key, m_hostKey;
    QHash<QString, int> m_ports;
};

int tst_SiteCheck::startServer(const QStringList &args)
{
    auto *server = new QProcess(this);
    m_servers << server;
    server->start("/usr/bin/python3", QStringList{KELVO_TEST_SERVERS "/testserver.py"} + args);
    if (!server->waitForReadyRead(20000))
        return -1;
    return server->readLine().trimmed().toInt();
}

void tst_SiteCheck::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_root = m_dir.filePath("root");
    QVERIFY(QDir().mkpath(m_root + "/www"));
    for (const char *name : {"/www/index.html", "/www/bild.png"}) {
        QFile file(m_root + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    m_cert = m_dir.filePath("cert.pem");
    m_key = m_dir.filePath("key.pem");
    m_hostKey = m_dir.filePath("hostkey");
    QVERIFY(run("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost", "-addext",
                            "subjectAltName=DNS:localhost,IP:127.0.0.1", "-days", "2", "-keyout", m_key, "-out", m_cert}));
    QVERIFY(run("ssh-keygen", {"-q", "-t", "rsa", "-b", "2048", "-m", "PEM", "-N", "", "-f", m_hostKey}));
    const QString user = "hans", password = "geheim";
    m_ports["ftp"] = startServer({"ftp", m_root, user, password});
    m_ports["ftpes"] = startServer({"ftp", m_root, user, password, m_cert, m_key});
    m_ports["ftps"] = startServer({"ftps", m_root, user, password, m_cert, m_key});
    m_ports["sftp"] = startServer({"sftp", m_root, user, password, m_hostKey});
    m_ports["http"] = startServer({"http", m_root});
    m_ports["https"] = startServer({"http", m_root, m_cert, m_key});
    m_ports["silent"] = startServer({"silent"});
    for (auto port = m_ports.cbegin(); port != m_ports.cend(); ++port)
        QVERIFY2(port.value() > 0, qPrintable(port.key() + " did not start"));
}

void tst_SiteCheck::cleanupTestCase()
{
    for (QProcess *server : std::as_const(m_servers)) {
        server->kill();
        server->waitForFinished();
    }
}

void tst_SiteCheck::cleanup()
{
    verifyModalActionsRan();
}

CheckRequest tst_SiteCheck::request(const QString &server, const QString &startDir) const
{
    const QString scheme = server.section(':', 0, 0);
    const QString worker = scheme.startsWith("ftp") ? "FtpWorker.so" : scheme == "https" ? "HttpsWorker.so"
                           : scheme == "http"       ? "HttpWorker.so"
                                                    : "";
    // A server may wait some seconds before it refuses a sign-in.
    CheckRequest made{server, startDir, worker, kWorkers, "geheim", false, m_dir.filePath("known_hosts"), true, 8, m_cert};
    return made;
}

void tst_SiteCheck::everyServerPassesEveryStep_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("listed");  // the start directory's detail
    for (const char *kind : {"ftp", "sftp"})
        QTest::newRow(kind) << kind << "/www: 2 Einträge";
    // pyftpdlib's TLS data channel resets OpenSSL 3 clients (the curl tool
    // too), so over FTP with TLS the check is followed up to the sign-in.
    for (const char *kind : {"ftpes", "ftps"})
        QTest::newRow(kind) << kind << "";
    QTest::newRow("http") << "http" << "HTTP 200";
    QTest::newRow("https") << "https" << "HTTP 200";
}

void tst_SiteCheck::everyServerPassesEveryStep()
{
    QFETCH(QString, kind);
    QFETCH(QString, listed);
    const bool signsIn = !kind.startsWith("http");
    const QString server = kind + "://" + (signsIn ? "hans@" : "") + "127.0.0.1:" + QString::number(m_ports[kind]) + "/";
    std::vector<CheckStep> seen;
    const CheckResult result = RunSiteCheck(request(server, kind.startsWith("http") ? "/www/" : "/www"),
                                            [&seen](const CheckStep &step) { seen.push_back(step); }, nullptr);
    QStringList steps;
    for (const CheckStep &step : result.steps)
        steps << StepName(step.kind) + (step.outcome == CheckStep::Outcome::Failed ? ": " + step.detail : "");
    QCOMPARE(seen.size(), result.steps.size());
    const auto stepOf = [&result](CheckStep::Kind wanted) {
        return *std::find_if(result.steps.cbegin(), result.steps.cend(),
                             [wanted](const CheckStep &step) { return step.kind == wanted; });
    };
    QVERIFY2(stepOf(CheckStep::Kind::SignIn).outcome != CheckStep::Outcome::Failed, qPrintable(steps.join('\n')));
    const CheckStep secure = stepOf(CheckStep::Kind::Secure);
    if (kind == "ftp" || kind == "http")
        QCOMPARE(secure.outcome, CheckStep::Outcome::Skipped);
    else
        QVERIFY2(secure.detail.contains(kind == "sftp" ? "SHA256:" : "SHA-256 "), qPrintable(secure.detail));
    if (listed.isEmpty())
        return;
    QVERIFY2(result.passed() || (kind == "sftp" && result.failure == CheckFailure::Worker), qPrintable(steps.join('\n')));
    QCOMPARE(stepOf(CheckStep::Kind::StartDir).detail, listed);
    // Every step in its order, each after the one before.
    for (size_t i = 1; i < result.steps.size(); ++i)
        QVERIFY(result.steps[i].ms >= result.steps[i - 1].ms);
}

void tst_SiteCheck::failuresAreSaidPlainly_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("startDir");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("trustCertificates");
    QTest::addColumn<int>("failure");
    QTest::addColumn<QString>("said");
    const auto at = [this](const char *kind) { return QString::number(m_ports[kind]); };
    QTest::newRow("closed port") << "ftp://hans@127.0.0.1:1/" << "/www" << "geheim" << true
                                 << int(CheckFailure::Unreachable) << "nimmt keine Verbindung an";
    QTest::newRow("unknown name") << "ftp://hans@nirgends.invalid/" << "/www" << "geheim" << true
                                  << int(CheckFailure::NameUnknown) << "Der Servername nirgends.invalid ist unbekannt.";
    QTest::newRow("never answers") << "ftp://hans@127.0.0.1:" + at("silent") + "/" << "/www" << "geheim" << true
                                   << int(CheckFailure::TimedOut) << "antwortet nicht innerhalb von 2 Sekunden";
    QTest::newRow("wrong password") << "ftp://hans@127.0.0.1:" + at("ftp") + "/" << "/www" << "falsch" << true
                                    << int(CheckFailure::SignIn) << "Die Anmeldung wurde abgelehnt";
    QTest::newRow("wrong password, sftp") << "sftp://hans@127.0.0.1:" + at("sftp") + "/" << "/www" << "falsch" << true
                                          << int(CheckFailure::SignIn) << "Die Anmeldung wurde abgelehnt";
    QTest::newRow("missing start directory") << "ftp://hans@127.0.0.1:" + at("ftp") + "/" << "/gibtsnicht" << "geheim"
                                             << true << int(CheckFailure::StartDir) << "/gibtsnicht gibt es nicht";
    QTest::newRow("missing, sftp") << "sftp://hans@127.0.0.1:" + at("sftp") + "/" << "/gibtsnicht" << "geheim" << true
                                   << int(CheckFailure::StartDir) << "/gibtsnicht gibt es nicht";
    QTest::newRow("missing, http") << "http://127.0.0.1:" + at("http") + "/" << "/gibtsnicht" << "" << true
                                   << int(CheckFailure::StartDir) << "HTTP 404";
    QTest::newRow("untrusted certificate") << "ftpes://hans@127.0.0.1:" + at("ftpes") + "/" << "/www" << "geheim" << false
                                           << int(CheckFailure::Certificate) << "es ist selbst signiert; ausgestellt von CN = localhost";
    QTest::newRow("untrusted, https") << "https://127.0.0.1:" + at("https") + "/" << "/www/" << "" << false
                                      << int(CheckFailure::Certificate) << "SHA-256 ";
    QTest::newRow("no tls offered") << "ftpes://hans@127.0.0.1:" + at("ftp") + "/" << "/www" << "geheim" << true
                                    << int(CheckFailure::Certificate) << "bietet kein TLS an";
    QTest::newRow("worker for another protocol") << "http://127.0.0.1:" + at("http") + "/" << "/www/" << "" << true
                                                 << int(CheckFailure::Worker) << "überträgt nicht über http";
    QTest::newRow("missing local folder") << "/" << "/gibtsnicht/wirklich" << "" << true << int(CheckFailure::StartDir)
                                          << "Der Ordner /gibtsnicht/wirklich fehlt.";
    QTest::newRow("not an address") << "mailto://a@b/" << "/" << "" << true << int(CheckFailure::Address)
                                    << "keine, über die geprüft werden kann";
}

void tst_SiteCheck::failuresAreSaidPlainly()
{
    QFETCH(QString, server);
    QFETCH(QString, startDir);
    QFETCH(QString, password);
    QFETCH(bool, trustCertificates);
    QFETCH(int, failure);
    QFETCH(QString, said);
    CheckRequest asked = request(server, startDir);
    asked.password = password;
    if (!trustCertificates)
        asked.extraCertificates.clear();
    if (said.contains("überträgt nicht"))
        asked.pluginFile = "FtpWorker.so";
    if (said.contains("antwortet nicht"))
        asked.stepSeconds = 2;
    const CheckResult result = RunSiteCheck(asked, {}, nullptr);
    QCOMPARE(int(result.failure), failure);
    QStringList details, told;
    for (const CheckStep &step : result.steps) {
        told << StepName(step.kind);
        if (step.outcome == CheckStep::Outcome::Failed)
            details << step.detail;
    }
    // A certificate refused was refused over a connection that was made.
    if (failure == int(CheckFailure::Certificate))
        QVERIFY2(told.indexOf("Verbunden") >= 0 && told.indexOf("Verbunden") < told.indexOf("Sicherer Kanal"),
                 qPrintable(told.join(", ")));
    QVERIFY2(details.join('\n').contains(said), qPrintable(details.join('\n')));
    // Never the password, never a bare code.
    QVERIFY(!details.join('\n').contains("geheim"));
    QVERIFY(!details.join('\n').contains(QRegularExpression("error \\d+|Fehler \\d+")));
}

// An SSH host key is shown with its fingerprint (the one ssh-keygen gives)
// and kept only when the user trusts it; a changed key is refused with a
// warning, never accepted.
void tst_SiteCheck::hostKeysAreKeptOnlyWhenTrusted()
{
    const QString server = QString("sftp://hans@127.0.0.1:%1/").arg(m_ports["sftp"]);
    CheckRequest asked = request(server);
    asked.knownHostsFile = m_dir.filePath("hosts-of-this-test");
    asked.trustNewHostKey = false;
    CheckResult result = RunSiteCheck(asked, {}, nullptr);
    QCOMPARE(result.failure, CheckFailure::HostKey);
    QVERIFY(result.hostKeyUnknown);
    QProcess keygen;
    keygen.start("ssh-keygen", {"-l", "-E", "sha256", "-f", m_hostKey + ".pub"});
    QVERIFY(keygen.waitForFinished());
    const QString fingerprint = QString::fromLatin1(keygen.readAllStandardOutput()).section(' ', 1, 1);
    QVERIFY2(result.steps.back().detail.contains(fingerprint), qPrintable(result.steps.back().detail + " " + fingerprint));
    QVERIFY(!QFile::exists(asked.knownHostsFile) || QFile(asked.knownHostsFile).size() == 0);

    asked.trustNewHostKey = true;
    QCOMPARE(RunSiteCheck(asked, {}, nullptr).failure, CheckFailure::Worker);  // sftp has no worker here
    asked.trustNewHostKey = false;
    QCOMPARE(RunSiteCheck(asked, {}, nullptr).failure, CheckFailure::Worker);  // known now

    // Another key at the same place: the server's key changed.
    QFile hosts(asked.knownHostsFile);
    QVERIFY(hosts.open(QIODevice::ReadOnly));
    QByteArray known = hosts.readAll();
    hosts.close();
    const QString other = m_dir.filePath("otherkey");
    QVERIFY(run("ssh-keygen", {"-q", "-t", "rsa", "-b", "2048", "-N", "", "-f", other}));
    QFile otherPublic(other + ".pub");
    QVERIFY(otherPublic.open(QIODevice::ReadOnly));
    const QByteArray otherKey = otherPublic.readAll().split(' ').value(1);
    QList<QByteArray> fields = known.trimmed().split(' ');
    fields[2] = otherKey;
    QVERIFY(hosts.open(QIODevice::WriteOnly));
    hosts.write(fields.join(' ') + '\n');
    hosts.close();
    asked.trustNewHostKey = true;
    result = RunSiteCheck(asked, {}, nullptr);
    QCOMPARE(result.failure, CheckFailure::HostKey);
    QVERIFY2(result.steps.back().detail.startsWith("Warnung: Der Hostschlüssel von 127.0.0.1 hat sich geändert"),
             qPrintable(result.steps.back().detail));
}

void tst_SiteCheck::writeTestLeavesNothingBehind()
{
    const QStringList before = QDir(m_root + "/www").entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const char *kind : {"ftp", "sftp"}) {
        CheckRequest asked = request(QString("%1://hans@127.0.0.1:%2/").arg(kind).arg(m_ports[kind]));
        asked.writeTest = true;
        const CheckResult result = RunSiteCheck(asked, {}, nullptr);
        QCOMPARE(result.steps.back().kind, CheckStep::Kind::Write);
        QVERIFY2(result.steps.back().outcome == CheckStep::Outcome::Passed, qPrintable(result.steps.back().detail));
        QCOMPARE(QDir(m_root + "/www").entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), before);
    }
    // Without asking, nothing is written: the listing is all it does.
    const CheckResult readOnly = RunSiteCheck(request(QString("ftp://hans@127.0.0.1:%1/").arg(m_ports["ftp"])), {}, nullptr);
    QCOMPARE(readOnly.steps.back().outcome, CheckStep::Outcome::Skipped);
}

void tst_SiteCheck::cancelStopsTheCheck()
{
    CheckRequest asked = request(QString("ftp://hans@127.0.0.1:%1/").arg(m_ports["silent"]));
    asked.stepSeconds = 600;
    std::atomic<bool> cancel = false;
    std::thread stopper([&cancel] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        cancel = true;
    });
    const CheckResult result = RunSiteCheck(asked, {}, &cancel);
    stopper.join();
    QCOMPARE(result.failure, CheckFailure::Cancelled);
    QCOMPARE(result.steps.back().detail, QStringLiteral("Abgebrochen."));
}

// kelvo-book check: one entry, or all at once, with an exit code by kind.
void tst_SiteCheck::kelvoBookChecksWithExitCodes()
{
    QTemporaryDir dir;
    QVERIFY(QFile::copy(KELVO_PLUGIN_DIR "/HttpWorker.so", dir.filePath("HttpWorker.so")));
    QVERIFY(QFile::copy(KELVO_PLUGIN_DIR "/FtpWorker.so", dir.filePath("FtpWorker.so")));
    createStore(dir.path(), {{"Web", QString("http://127.0.0.1:%1/").arg(m_ports["http"]), "/www/", "HttpWorker.so"},
                             {"Zu", "ftp://127.0.0.1:1/", "/", "FtpWorker.so"}});
    const auto kelvoBook = [&dir](const QStringList &args) {
        QProcess process;
        process.start(KELVO_TOOLS_DIR "/kelvo-book", QStringList{"--plugin-dir", dir.path()} + args);
        process.waitForFinished(60000);
        return std::make_pair(process.exitCode(), process.readAllStandardOutput());
    };
    auto [code, out] = kelvoBook({"check", "0"});
    QCOMPARE(code, 0);
    QVERIFY2(out.contains("Startverzeichnis\tok"), out.constData());
    std::tie(code, out) = kelvoBook({"check", "--all", "--json"});
    QCOMPARE(code, 5);
    const QJsonArray checked = QJsonDocument::fromJson(out).array();
    QCOMPARE(checked.size(), 2);
    QCOMPARE(checked[0]["passed"].toBool(), true);
    QCOMPARE(checked[1]["exit"].toInt(), 5);
    QCOMPARE(kelvoBook({"check", "7"}).first, 1);
}

// The dialog shows each step as it comes and a Cancel stops a check that
// waits for a server; the password asked for is never shown.
void tst_SiteCheck::dialogShowsTheStepsAndCancels()
{
    KELVO_LOAD_MODULE(module, {"FtpWorker.so"});
    createStore(module.pluginDir(), {{"Gut", QString("ftp://hans@127.0.0.1:%1/").arg(m_ports["ftp"]), "/www", "FtpWorker.so"},
                                     {"Still", QString("ftp://127.0.0.1:%1/").arg(m_ports["silent"]), "/", "FtpWorker.so"}});
    QStringList shown, stopped;
    whenModal([&](QWidget *book) {
        // With no keyring on this bus the password is asked for, masked.
        whenModalIs([book](QWidget *top) { return top != book && top->findChild<QLineEdit *>("password"); },
                    [&](QWidget *asked) {
            auto *password = asked->findChild<QLineEdit *>("password");
            QCOMPARE(password->echoMode(), QLineEdit::Password);
            typeText(password, "geheim");
            QTest::keyClick(password, Qt::Key_Return);
            whenFound([]() -> QWidget * {
                QWidget *top = QApplication::activeModalWidget();
                auto *summary = top ? top->findChild<QLabel *>("summary") : nullptr;
                return summary && summary->text() != "Wird geprüft …" ? top : nullptr;
            }, [&shown](QWidget *check) {
                const auto *steps = check->findChild<QTreeWidget *>("steps");
                for (int i = 0; i < steps->topLevelItemCount(); ++i)
                    shown << steps->topLevelItem(i)->text(0) + ": " + steps->topLevelItem(i)->text(1);
                shown << check->findChild<QLabel *>("summary")->text();
                QTest::keyClick(check, Qt::Key_Escape);
            });
        });
        clickLine(book, listLines(book).indexOf("Gut"));
        auto *list = child<QListView>(book, List);
        QTest::keyClick(list, Qt::Key_T, Qt::ControlModifier);

        // The silent server: the connection step shows, then Cancel.
        whenFound([]() -> QWidget * {
            QWidget *top = QApplication::activeModalWidget();
            auto *steps = top ? top->findChild<QTreeWidget *>("steps") : nullptr;
            return steps && steps->topLevelItemCount() >= 5 ? top : nullptr;
        }, [&stopped](QWidget *check) {
            for (QPushButton *button : check->findChildren<QPushButton *>()) {
                if (button->text() == "&Abbrechen")
                    button->click();
            }
            whenFound([check]() -> QWidget * {
                auto *summary = check->findChild<QLabel *>("summary");
                return summary->text() != "Wird geprüft …" ? check : nullptr;
            }, [&stopped](QWidget *check) {
                stopped << check->findChild<QLabel *>("summary")->text();
                QTest::keyClick(check, Qt::Key_Escape);
            });
        });
        clickLine(book, listLines(book).indexOf("Still"));
        QTest::keyClick(list, Qt::Key_T, Qt::ControlModifier);
        click(book, 2);
    });
    module.select();
    QCOMPARE(shown, QStringList({"Adresse verstanden: ✓ in Ordnung", "Publishing-Worker: ✓ in Ordnung",
                                 "Name aufgelöst: ✓ in Ordnung", "Verbunden: ✓ in Ordnung",
                                 "Sicherer Kanal: – übersprungen", "Angemeldet: ✓ in Ordnung",
                                 "Startverzeichnis: ✓ in Ordnung", "Schreibtest: – übersprungen",
                                 "Alle Schritte in Ordnung."}));
    QCOMPARE(stopped, QStringList{"Abgebrochen."});
}

QTEST_MAIN(tst_SiteCheck)
#include "tst_sitecheck.moc"
