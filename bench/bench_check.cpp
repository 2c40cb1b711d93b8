// The site check of an FTP and an SFTP entry on loopback against its floor:
// libcurl in the same process doing the same sign-in and listing of the
// start directory, nothing more. Interleaved pairs, each on a fresh
// connection; the median and min–max of the per-pair ratios. Then the
// longest stall of an event loop that runs the check dialog while it
// checks (a 1 ms timer; the gap between two of its ticks).
// Usage: bench_check [PAIRS=21]. The servers (tests/servers/testserver.py)
// run on this machine, so the figures leave out a network's latency; the
// check's extra steps (the worker, the host key file) are in them.

#include "benchfile.h"
#include "ccheckdialog.h"
#include "sitecheck.h"

#include <curl/curl.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

namespace {

int startServer(QProcess &server, const QStringList &args)
{
    server.start("/usr/bin/python3", QStringList{KELVO_TEST_SERVERS "/testserver.py"} + args);
    return server.waitForReadyRead(20000) ? server.readLine().trimmed().toInt() : -1;
}

// The floor: one listing through libcurl, as plainly as it goes.
void plainListing(const QByteArray &url, const QString &knownHosts)
{
    CURL *easy = curl_easy_init();
    curl_easy_setopt(easy, CURLOPT_URL, url.constData());
    curl_easy_setopt(easy, CURLOPT_USERNAME, "hans");
    curl_easy_setopt(easy, CURLOPT_PASSWORD, "geheim");
    curl_easy_setopt(easy, CURLOPT_DIRLISTONLY, 1L);
    curl_easy_setopt(easy, CURLOPT_SSH_KNOWNHOSTS, QFile::encodeName(knownHosts).constData());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, +[](char *, size_t size, size_t count, void *) { return size * count; });
    curl_easy_perform(easy);
    curl_easy_cleanup(easy);
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int pairs = argc > 1 ? QByteArray(argv[1]).toInt() : 21;
    QTextStream out(stdout);
    QTemporaryDir dir;
    const QString root = dir.filePath("root");
    QDir().mkpath(root + "/www");
    for (int i = 0; i < 50; ++i)
        QFile(root + QStringLiteral("/www/datei%1.html").arg(i)).open(QIODevice::WriteOnly);
    const QString hostKey = dir.filePath("hostkey");
    QProcess keygen;
    keygen.start("ssh-keygen", {"-q", "-t", "rsa", "-b", "2048", "-m", "PEM", "-N", "", "-f", hostKey});
    keygen.waitForFinished();
    QProcess ftp, sftp;
    const int ftpPort = startServer(ftp, {"ftp", root, "hans", "geheim"});
    const int sftpPort = startServer(sftp, {"sftp", root, "hans", "geheim", hostKey});
    const QString knownHosts = dir.filePath("known_hosts");
    const std::vector<WorkerInfo> workers = {{"FtpWorker.so", 1}};

    for (const auto &[scheme, port] : {std::pair{QStringLiteral("ftp"), ftpPort}, std::pair{QStringLiteral("sftp"), sftpPort}}) {
        CheckRequest request{QStringLiteral("%1://hans@127.0.0.1:%2/").arg(scheme).arg(port), "/www", "FtpWorker.so",
                             workers, "geheim", false, knownHosts, true, 10, {}};
        const QByteArray url = scheme == "ftp" ? QByteArray("ftp://127.0.0.1:") + QByteArray::number(port) + "/%2Fwww/"
                                               : QByteArray("sftp://127.0.0.1:") + QByteArray::number(port) + "/www/";
        RunSiteCheck(request, {}, nullptr);  // the host key is known from here on
        plainListing(url, knownHosts);
        std::vector<double> ours, floor, ratios;
        for (int pair = 0; pair < pairs; ++pair) {
            const double a = timeMs([&] { RunSiteCheck(request, {}, nullptr); });
            const double b = timeMs([&] { plainListing(url, knownHosts); });
            ours.push_back(a);
            floor.push_back(b);
            ratios.push_back(a / b);
        }
        const Spread ratio = spreadOf(ratios);
        out << scheme << " check " << spreadOf(ours).median << " ms vs libcurl " << spreadOf(floor).median
            << " ms   ratio " << ratio.median << " (" << ratio.min << "–" << ratio.max << ")" << Qt::endl;
    }

    // The dialog's event loop while it checks.
    for (int run = 0; run < 5; ++run) {
        CheckRequest request{QStringLiteral("sftp://hans@127.0.0.1:%1/").arg(sftpPort), "/www", "FtpWorker.so", workers,
                             "geheim", false, knownHosts, true, 10, {}};
        CCheckDialog dialog(QStringLiteral("Bench"), request, nullptr);
        dialog.show();
        QElapsedTimer clock;
        clock.start();
        qint64 last = 0, longest = 0;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            longest = std::max(longest, clock.elapsed() - last);
            last = clock.elapsed();
        });
        tick.start(1);
        while (dialog.Result().steps.empty() && clock.elapsed() < 20000)
            app.processEvents(QEventLoop::WaitForMoreEvents, 5);
        out << "dialog during a check: longest stall " << longest << " ms over " << clock.elapsed() << " ms" << Qt::endl;
    }
    ftp.kill();
    sftp.kill();
    ftp.waitForFinished();
    sftp.waitForFinished();
    return 0;
}
