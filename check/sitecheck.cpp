#include "sitecheck.h"

#include "addresscredentials.h"
#include "curltransfer.h"
#include "pluginapi.h"
#include "securechannel.h"

#include <curl/curl.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>
#include <QUuid>

#include <memory>
#include <optional>

#include <unistd.h>

namespace {

bool isLocal(const QString &server)
{
    return !server.contains(QLatin1String("://")) || server.startsWith(QLatin1String("file:"), Qt::CaseInsensitive);
}

struct ListCleanup {
    void operator()(curl_slist *list) const { curl_slist_free_all(list); }
};
using SList = std::unique_ptr<curl_slist, ListCleanup>;

// A listing is counted, never kept: a line an entry.
size_t countLines(char *data, size_t size, size_t count, void *lines)
{
    const size_t bytes = size * count;
    *static_cast<qint64 *>(lines) += std::count(data, data + bytes, '\n');
    return bytes;
}

class Checker
{
public:
    Checker(const CheckRequest &request, const std::function<void(const CheckStep &)> &seen,
            const std::atomic<bool> *cancel)
        : m_request(request), m_seen(seen), m_cancel(cancel)
    {
        m_clock.start();
        if (!request.extraCertificates.isEmpty()) {
            QFile authorities(request.extraCertificates);
            if (authorities.open(QIODevice::ReadOnly))
                m_extraAuthorities = authorities.read(1024 * 1024);
        }
    }

    CheckResult run()
    {
        if (isLocal(m_request.server)) {
            checkLocal();
            return m_result;
        }
        const QUrl url(m_request.server, QUrl::StrictMode);
        const std::optional<Protocol> protocol = ProtocolOf(url.scheme().toLower());
        if (!url.isValid() || url.host().isEmpty() || !protocol) {
            fail(CheckStep::Kind::Address, CheckFailure::Address,
                 QStringLiteral("Die Adresse \"%1\" ist keine, über die geprüft werden kann (ftp, ftps, ftpes, sftp, "
                                "http, https oder ein lokaler Pfad).").arg(PasswordHidden(m_request.server)));
            return m_result;
        }
        const QString user = CredentialsIn(m_request.server).user;
        m_user = user;
        pass(CheckStep::Kind::Address,
             QStringLiteral("%1, Server %2%3").arg(url.scheme().toLower(), url.host(),
                                                   user.isEmpty() ? QString() : QStringLiteral(", Benutzer ") + user));
        checkWorker(protocol->service, url.scheme().toLower());
        checkNetwork(url, *protocol, user);
        return m_result;
    }

private:
    void step(CheckStep::Kind kind, CheckStep::Outcome outcome, const QString &detail)
    {
        const CheckStep done{kind, outcome, detail, m_clock.elapsed()};
        m_result.steps.push_back(done);
        if (m_seen)
            m_seen(done);
    }
    void pass(CheckStep::Kind kind, const QString &detail) { step(kind, CheckStep::Outcome::Passed, detail); }
    void skip(CheckStep::Kind kind, const QString &detail) { step(kind, CheckStep::Outcome::Skipped, detail); }
    void fail(CheckStep::Kind kind, CheckFailure failure, const QString &detail)
    {
        if (m_result.failure == CheckFailure::None || m_result.failure == CheckFailure::Worker)
            m_result.failure = failure;
        step(kind, CheckStep::Outcome::Failed, detail);
    }

    // The worker is judged, but a wrong one does not stop the check of
    // the server: both are worth knowing.
    void checkWorker(int service, const QString &scheme)
    {
        const auto worker = std::find_if(m_request.workers.cbegin(), m_request.workers.cend(),
                                         [this](const WorkerInfo &w) { return w.fileName == m_request.pluginFile; });
        if (m_request.pluginFile.isEmpty())
            fail(CheckStep::Kind::Worker, CheckFailure::Worker, QStringLiteral("Der Eintrag nennt keinen Publishing-Worker."));
        else if (worker == m_request.workers.cend())
            fail(CheckStep::Kind::Worker, CheckFailure::Worker,
                 QStringLiteral("Der Publishing-Worker %1 ist nicht geladen.").arg(m_request.pluginFile));
        else if (!service || worker->service != service)
            fail(CheckStep::Kind::Worker, CheckFailure::Worker,
                 QStringLiteral("Der Publishing-Worker %1 überträgt nicht über %2.").arg(m_request.pluginFile, scheme));
        else
            pass(CheckStep::Kind::Worker, m_request.pluginFile);
    }

    void checkLocal()
    {
        const QString folder = m_request.startDir;
        pass(CheckStep::Kind::Address, QStringLiteral("lokaler Pfad"));
        checkWorker(Service::File, QStringLiteral("file"));
        const QFileInfo info(folder);
        if (!info.isDir()) {
            fail(CheckStep::Kind::StartDir, CheckFailure::StartDir,
                 QStringLiteral("Der Ordner %1 fehlt.").arg(QDir::toNativeSeparators(folder)));
            return;
        }
        const qsizetype entries = QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).size();
        pass(CheckStep::Kind::StartDir, QStringLiteral("%1 Einträge").arg(entries));
        if (::access(QFile::encodeName(folder).constData(), W_OK) == 0)
            pass(CheckStep::Kind::Write, QStringLiteral("Der Ordner kann beschrieben werden."));
        else
            fail(CheckStep::Kind::Write, CheckFailure::Permission,
                 QStringLiteral("Der Ordner %1 kann nicht beschrieben werden.").arg(QDir::toNativeSeparators(folder)));
    }

    // Tells a step that curl's times showed as done.
    void tellReached(CheckStep::Kind kind, CURL *easy, const Protocol &protocol)
    {
        switch (kind) {
        case CheckStep::Kind::Name:
            pass(kind, {});
            break;
        case CheckStep::Kind::SignIn:
            // SSH keys the host before the sign-in; HTTP signs in with
            // its answer.
            if (protocol.channel == Protocol::Ssh)
                passHostKey();
            if (protocol.lists)
                pass(kind, m_user.isEmpty() ? QStringLiteral("anonym") : m_user);
            else if (m_user.isEmpty())
                skip(kind, QStringLiteral("ohne Benutzernamen"));
            break;
        case CheckStep::Kind::Connection: {
            char *ip = nullptr;
            long port = 0;
            curl_easy_getinfo(easy, CURLINFO_PRIMARY_IP, &ip);
            curl_easy_getinfo(easy, CURLINFO_PRIMARY_PORT, &port);
            pass(kind, QStringLiteral("%1 Port %2").arg(QString::fromLatin1(ip ? ip : "")).arg(port));
            if (protocol.channel == Protocol::Plain)
                skip(CheckStep::Kind::Secure, QStringLiteral("unverschlüsselt"));
            break;
        }
        case CheckStep::Kind::Secure:
            if (protocol.secured())
                pass(kind, QStringLiteral("TLS, Zertifikat ") + DescribeCertificate(easy));
            break;
        default:
            pass(kind, {});
            break;
        }
    }

    // The SSH host key, once it was checked: known, or newly trusted.
    void passHostKey()
    {
        if (!told(CheckStep::Kind::Secure)
            && (m_hostKey.state == HostKeySeen::Known || m_hostKey.state == HostKeySeen::Added))
            pass(CheckStep::Kind::Secure,
                 QStringLiteral("SSH, Hostschlüssel %1%2")
                     .arg(m_hostKey.fingerprint,
                          m_hostKey.state == HostKeySeen::Added ? QStringLiteral(" (neu aufgenommen)") : QString()));
    }

    bool told(CheckStep::Kind kind) const
    {
        return std::any_of(m_result.steps.cbegin(), m_result.steps.cend(),
                           [kind](const CheckStep &s) { return s.kind == kind; });
    }

    void checkNetwork(const QUrl &url, const Protocol &protocol, const QString &user)
    {
        m_hostKey.trustNew = m_request.trustNewHostKey;
        CurlTransfer transfer(m_request, m_extraAuthorities, url, protocol, user, &m_hostKey);
        CURL *easy = transfer.handle();
        qint64 lines = 0;
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, countLines);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &lines);
        bool timedOut = false;
        const CURLcode code = transfer.Perform(
            [&](CheckStep::Kind kind) { tellReached(kind, easy, protocol); }, m_cancel, &timedOut);
        if (protocol.channel == Protocol::Ssh)
            passHostKey();
        if (code != CURLE_OK) {
            // A handshake refused after the connection: libcurl counts the
            // connection as made only with its TLS, but it was made.
            if (isHandshakeFailure(code) && !told(CheckStep::Kind::Connection))
                tellReached(CheckStep::Kind::Connection, easy, protocol);
            failed(code, timedOut, url, protocol, transfer.errorText());
            return;
        }
        long status = 0;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
        if (!protocol.lists) {
            httpAnswered(status);
            return;
        }
        pass(CheckStep::Kind::StartDir, QStringLiteral("%1: %2 Einträge").arg(m_request.startDir).arg(lines));
        if (!m_request.writeTest) {
            skip(CheckStep::Kind::Write, QStringLiteral("nicht verlangt"));
            return;
        }
        writeTest(url, protocol, user);
    }

    void httpAnswered(long status)
    {
        if (!m_user.isEmpty() && status != 401)
            pass(CheckStep::Kind::SignIn, m_user);
        if (status == 401)
            fail(CheckStep::Kind::SignIn, CheckFailure::SignIn, QStringLiteral("Die Anmeldung wurde abgelehnt (HTTP 401)."));
        else if (status == 403)
            fail(CheckStep::Kind::StartDir, CheckFailure::Permission,
                 QStringLiteral("Kein Zugriff auf %1 (HTTP 403).").arg(m_request.startDir));
        else if (status == 404)
            fail(CheckStep::Kind::StartDir, CheckFailure::StartDir,
                 QStringLiteral("%1 gibt es auf dem Server nicht (HTTP 404).").arg(m_request.startDir));
        else if (status >= 400)
            fail(CheckStep::Kind::StartDir, CheckFailure::Other, QStringLiteral("Der Server antwortet mit HTTP %1.").arg(status));
        else
            pass(CheckStep::Kind::StartDir, QStringLiteral("HTTP %1").arg(status));
        skip(CheckStep::Kind::Write, QStringLiteral("über HTTP wird nicht geschrieben"));
    }

    // An empty file of a name no one else uses, created and removed again.
    void writeTest(const QUrl &url, const Protocol &protocol, const QString &user)
    {
        const QString name = QStringLiteral(".kelvo-pruefung-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
        CurlTransfer transfer(m_request, m_extraAuthorities, url, protocol, user, &m_hostKey, name);
        CURL *e = transfer.handle();
        curl_easy_setopt(e, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(e, CURLOPT_INFILESIZE_LARGE, curl_off_t(0));
        curl_easy_setopt(e, CURLOPT_READFUNCTION, +[](char *, size_t, size_t, void *) -> size_t { return 0; });
        QString dir = m_request.startDir.isEmpty() ? QStringLiteral("/") : m_request.startDir;
        if (!dir.endsWith(QLatin1Char('/')))
            dir += QLatin1Char('/');
        const QByteArray remove = protocol.channel == Protocol::Ssh ? "rm \"" + (dir + name).toUtf8() + '"'
                                                                    : "DELE " + name.toUtf8();
        const SList after(curl_slist_append(nullptr, remove.constData()));
        curl_easy_setopt(e, CURLOPT_POSTQUOTE, after.get());
        bool timedOut = false;
        // Its connection repeats the steps already told.
        const CURLcode code = transfer.Perform({}, m_cancel, &timedOut);
        if (code == CURLE_OK)
            pass(CheckStep::Kind::Write, QStringLiteral("%1 angelegt und wieder gelöscht").arg(name));
        else if (code == CURLE_ABORTED_BY_CALLBACK)
            fail(CheckStep::Kind::Write, CheckFailure::Cancelled, QStringLiteral("Abgebrochen."));
        else
            fail(CheckStep::Kind::Write, CheckFailure::Permission,
                 QStringLiteral("In %1 kann keine Datei angelegt oder gelöscht werden.").arg(m_request.startDir));
    }

    // The step a failure belongs to: the first not yet passed.
    CheckStep::Kind stepInProgress() const
    {
        for (const CheckStep::Kind kind : {CheckStep::Kind::Name, CheckStep::Kind::Connection, CheckStep::Kind::Secure,
                                           CheckStep::Kind::SignIn}) {
            if (!told(kind))
                return kind;
        }
        return CheckStep::Kind::StartDir;
    }

    static bool isHandshakeFailure(CURLcode code)
    {
        return code == CURLE_PEER_FAILED_VERIFICATION || code == CURLE_SSL_CACERT_BADFILE
               || code == CURLE_SSL_CERTPROBLEM || code == CURLE_SSL_CONNECT_ERROR || code == CURLE_USE_SSL_FAILED;
    }

    void failed(CURLcode code, bool timedOut, const QUrl &url, const Protocol &protocol, const QString &curlText)
    {
        const QString host = url.host();
        const QString secs = QString::number(m_request.stepSeconds);
        switch (code) {
        case CURLE_ABORTED_BY_CALLBACK:
            return fail(stepInProgress(), CheckFailure::Cancelled, QStringLiteral("Abgebrochen."));
        case CURLE_COULDNT_RESOLVE_HOST:
            return fail(CheckStep::Kind::Name, CheckFailure::NameUnknown,
                        QStringLiteral("Der Servername %1 ist unbekannt.").arg(host));
        case CURLE_COULDNT_CONNECT:
            return fail(CheckStep::Kind::Connection, CheckFailure::Unreachable,
                        QStringLiteral("%1 nimmt keine Verbindung an (abgelehnt oder nicht erreichbar).").arg(host));
        case CURLE_OPERATION_TIMEDOUT:
            return fail(stepInProgress(), CheckFailure::TimedOut,
                        QStringLiteral("%1 antwortet nicht innerhalb von %2 Sekunden.").arg(host, secs));
        case CURLE_LOGIN_DENIED:
            return fail(CheckStep::Kind::SignIn, CheckFailure::SignIn,
                        QStringLiteral("Die Anmeldung wurde abgelehnt: Benutzername oder Passwort stimmen nicht."));
        case CURLE_USE_SSL_FAILED:
            return fail(CheckStep::Kind::Secure, CheckFailure::Certificate,
                        QStringLiteral("%1 bietet kein TLS an; ohne Verschlüsselung wird nicht angemeldet.").arg(host));
        case CURLE_REMOTE_FILE_NOT_FOUND:
            return fail(CheckStep::Kind::StartDir, CheckFailure::StartDir,
                        QStringLiteral("Das Startverzeichnis %1 gibt es nicht.").arg(m_request.startDir));
        case CURLE_REMOTE_ACCESS_DENIED:
        case CURLE_FTP_COULDNT_RETR_FILE:
            // FTP answers a missing folder and a closed one alike.
            return fail(CheckStep::Kind::StartDir, CheckFailure::StartDir,
                        QStringLiteral("Das Startverzeichnis %1 gibt es nicht, oder es darf nicht gelesen werden.")
                            .arg(m_request.startDir));
        default:
            break;
        }
        if (timedOut)
            return fail(stepInProgress(), CheckFailure::TimedOut,
                        QStringLiteral("%1 antwortet nicht innerhalb von %2 Sekunden.").arg(host, secs));
        if (protocol.channel == Protocol::Ssh && m_hostKey.state == HostKeySeen::Unknown) {
            m_result.hostKeyUnknown = true;
            return fail(CheckStep::Kind::Secure, CheckFailure::HostKey,
                        QStringLiteral("Der Hostschlüssel von %1 ist unbekannt: %2. Vertrauen Sie ihm nur, wenn der "
                                       "Betreiber des Servers Ihnen diesen Fingerabdruck genannt hat.")
                            .arg(host, m_hostKey.fingerprint));
        }
        if (protocol.channel == Protocol::Ssh && m_hostKey.state == HostKeySeen::Changed)
            return fail(CheckStep::Kind::Secure, CheckFailure::HostKey,
                        QStringLiteral("Warnung: Der Hostschlüssel von %1 hat sich geändert (jetzt %2). Das kann ein "
                                       "Angriff sein; der Schlüssel wird nicht angenommen. Fragen Sie den Betreiber "
                                       "des Servers.").arg(host, m_hostKey.fingerprint));
        if (code == CURLE_PEER_FAILED_VERIFICATION || code == CURLE_SSL_CACERT_BADFILE || code == CURLE_SSL_CERTPROBLEM)
            return fail(CheckStep::Kind::Secure, CheckFailure::Certificate,
                        QStringLiteral("Dem Zertifikat von %1 wird nicht vertraut: %2; %3.")
                            .arg(host, CertificateProblem(curlText), untrustedCertificate(url, protocol)));
        if (protocol.channel == Protocol::Ssh && told(CheckStep::Kind::Secure) && !told(CheckStep::Kind::SignIn))
            return fail(CheckStep::Kind::SignIn, CheckFailure::SignIn,
                        QStringLiteral("Die Anmeldung wurde abgelehnt: Benutzername oder Passwort stimmen nicht."));
        fail(stepInProgress(), CheckFailure::Other,
             QStringLiteral("Die Verbindung zu %1 ist gescheitert: %2").arg(host, curlText.isEmpty()
                                                                                  ? QString::fromUtf8(curl_easy_strerror(code))
                                                                                  : curlText));
    }

    // The certificate a server showed, read once more without trusting it,
    // only to describe it.
    QString untrustedCertificate(const QUrl &url, const Protocol &protocol)
    {
        CurlTransfer transfer(m_request, m_extraAuthorities, url, protocol, {}, &m_hostKey);
        CURL *easy = transfer.handle();
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);
        curl_easy_setopt(easy, CURLOPT_CONNECT_ONLY, 1L);
        curl_easy_setopt(easy, CURLOPT_TIMEOUT, long(m_request.stepSeconds));
        curl_easy_perform(easy);
        const QString described = DescribeCertificate(easy);
        return described.isEmpty() ? QStringLiteral("es ließ sich nicht lesen") : described;
    }

    const CheckRequest &m_request;
    const std::function<void(const CheckStep &)> &m_seen;
    const std::atomic<bool> *m_cancel;
    QElapsedTimer m_clock;
    CheckResult m_result;
    HostKeySeen m_hostKey;
    QString m_user;
    QByteArray m_extraAuthorities;
};

} // namespace

CheckResult RunSiteCheck(const CheckRequest &request, const std::function<void(const CheckStep &)> &seen,
                         const std::atomic<bool> *cancel)
{
    static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    if (!initialised)
        return {{}, CheckFailure::Other, false};
    return Checker(request, seen, cancel).run();
}

QString DefaultKnownHostsFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/ostrel/known_hosts");
}
