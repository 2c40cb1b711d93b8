#include "sitecheck.h"

#include "addresscredentials.h"
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
#include <string_view>

#include <unistd.h>

namespace {

// How the check reaches a scheme: libcurl's scheme, the worker service that
// transfers over it, and the secure channel it demands.
struct Protocol {
    const char *curlScheme;
    int service;
    enum Channel { Plain, Tls, ExplicitTls, Ssh } channel;
    bool lists;  // a folder can be listed (FTP, SFTP); HTTP only answers
};

std::optional<Protocol> protocolOf(const QString &scheme)
{
    static const std::pair<const char *, Protocol> known[] = {
        {"ftp", {"ftp", Service::Ftp, Protocol::Plain, true}},
        {"ftpes", {"ftp", Service::Ftp, Protocol::ExplicitTls, true}},
        {"ftps", {"ftps", Service::Ftp, Protocol::Tls, true}},
        {"sftp", {"sftp", 0, Protocol::Ssh, true}},
        {"http", {"http", Service::Http, Protocol::Plain, false}},
        {"https", {"https", Service::Https, Protocol::Tls, false}},
        {"gopher", {"gopher", Service::Gopher, Protocol::Plain, false}},
    };
    for (const auto &[name, protocol] : known) {
        if (scheme == QLatin1String(name))
            return protocol;
    }
    return std::nullopt;
}

bool isLocal(const QString &server)
{
    return !server.contains(QLatin1String("://")) || server.startsWith(QLatin1String("file:"), Qt::CaseInsensitive);
}

// CURL and CURLM are both void: each owner names its own cleanup.
struct EasyCleanup {
    void operator()(CURL *easy) const { curl_easy_cleanup(easy); }
};
struct MultiCleanup {
    void operator()(CURLM *multi) const { curl_multi_cleanup(multi); }
};
struct ListCleanup {
    void operator()(curl_slist *list) const { curl_slist_free_all(list); }
};
using Easy = std::unique_ptr<CURL, EasyCleanup>;
using Multi = std::unique_ptr<CURLM, MultiCleanup>;
using SList = std::unique_ptr<curl_slist, ListCleanup>;

// FTP says "230" once the user is signed in: later commands (the data
// connection, the listing) may still fail, and are not the sign-in's fault.
int watchReplies(CURL *, curl_infotype type, char *data, size_t size, void *signedIn)
{
    if (type == CURLINFO_HEADER_IN && size >= 4 && std::string_view(data, 4) == "230 ")
        *static_cast<bool *>(signedIn) = true;
    return 0;
}

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
        const std::optional<Protocol> protocol = protocolOf(url.scheme().toLower());
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
    bool cancelled() const { return m_cancel && m_cancel->load(); }

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

    // The start directory as the URL libcurl reaches it by: FTP paths are
    // relative to the login folder unless they begin with %2F.
    QByteArray transferUrl(const QUrl &url, const Protocol &protocol, const QString &name = {}) const
    {
        QString dir = m_request.startDir.isEmpty() ? QStringLiteral("/") : m_request.startDir;
        if (protocol.lists && !dir.endsWith(QLatin1Char('/')))
            dir += QLatin1Char('/');
        QByteArray path = QUrl::toPercentEncoding(dir + name, "/");
        if (QLatin1String(protocol.curlScheme).startsWith(QLatin1String("ftp")) && path.startsWith('/'))
            path = "/%2F" + path.mid(1);
        QByteArray base = QByteArray(protocol.curlScheme) + "://" + QUrl::toAce(url.host());
        if (url.host().contains(QLatin1Char(':')))
            base = QByteArray(protocol.curlScheme) + "://[" + url.host().toLatin1() + "]";
        if (url.port() > 0)
            base += ':' + QByteArray::number(url.port());
        return base + path;
    }

    Easy transfer(const QUrl &url, const Protocol &protocol, const QString &user, HostKeySeen *hostKey, char *errors)
    {
        Easy easy(curl_easy_init());
        CURL *e = easy.get();
        curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(e, CURLOPT_ERRORBUFFER, errors);
        curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, long(m_request.stepSeconds));
        curl_easy_setopt(e, CURLOPT_SERVER_RESPONSE_TIMEOUT, long(m_request.stepSeconds));
        if (!user.isEmpty())
            curl_easy_setopt(e, CURLOPT_USERNAME, user.toUtf8().constData());
        if (!m_request.password.isEmpty())
            curl_easy_setopt(e, CURLOPT_PASSWORD, m_request.password.toUtf8().constData());
        if (protocol.channel == Protocol::ExplicitTls)
            curl_easy_setopt(e, CURLOPT_USE_SSL, long(CURLUSESSL_ALL));
        if (protocol.channel == Protocol::Tls || protocol.channel == Protocol::ExplicitTls) {
            curl_easy_setopt(e, CURLOPT_CERTINFO, 1L);
            if (!m_request.extraCertificates.isEmpty()) {
                const curl_blob authorities{const_cast<char *>(m_extraAuthorities.constData()),
                                            size_t(m_extraAuthorities.size()), CURL_BLOB_COPY};
                curl_easy_setopt(e, CURLOPT_CAINFO_BLOB, &authorities);
            }
        }
        if (protocol.channel == Protocol::Ssh) {
            QDir().mkpath(QFileInfo(m_request.knownHostsFile).path());
            curl_easy_setopt(e, CURLOPT_SSH_KNOWNHOSTS, QFile::encodeName(m_request.knownHostsFile).constData());
            curl_easy_setopt(e, CURLOPT_SSH_KEYFUNCTION, JudgeHostKey);
            curl_easy_setopt(e, CURLOPT_SSH_KEYDATA, hostKey);
            curl_easy_setopt(e, CURLOPT_SSH_AUTH_TYPES, long(CURLSSH_AUTH_PASSWORD | CURLSSH_AUTH_KEYBOARD));
        }
        if (QLatin1String(protocol.curlScheme).startsWith(QLatin1String("ftp"))) {
            curl_easy_setopt(e, CURLOPT_DEBUGFUNCTION, watchReplies);
            curl_easy_setopt(e, CURLOPT_DEBUGDATA, &m_ftpSignedIn);
            curl_easy_setopt(e, CURLOPT_VERBOSE, 1L);
        }
        if (protocol.lists)
            curl_easy_setopt(e, CURLOPT_DIRLISTONLY, 1L);
        else
            curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
        curl_easy_setopt(e, CURLOPT_URL, transferUrl(url, protocol).constData());
        return easy;
    }

    // Runs easy to its end, telling the steps as their times show; each
    // step has its time limit, and a cancel ends the run at once.
    CURLcode perform(CURL *easy, const Protocol &protocol, bool *timedOut)
    {
        Multi multi(curl_multi_init());
        curl_multi_add_handle(multi.get(), easy);
        const std::vector<std::pair<CURLINFO, CheckStep::Kind>> marks = {
            {CURLINFO_NAMELOOKUP_TIME_T, CheckStep::Kind::Name},
            {CURLINFO_CONNECT_TIME_T, CheckStep::Kind::Connection},
            {CURLINFO_APPCONNECT_TIME_T, CheckStep::Kind::Secure},
            {CURLINFO_PRETRANSFER_TIME_T, CheckStep::Kind::SignIn},
        };
        size_t reached = 0;
        qint64 stepBegan = m_clock.elapsed();
        int running = 1;
        CURLcode code = CURLE_OK;
        while (running) {
            curl_multi_perform(multi.get(), &running);
            // A later time known means the steps before it are done too.
            for (size_t i = marks.size(); i-- > reached;) {
                curl_off_t at = 0;
                curl_easy_getinfo(easy, marks[i].first, &at);
                if (at > 0 || (m_ftpSignedIn && marks[i].second == CheckStep::Kind::SignIn)) {
                    for (; reached <= i; ++reached)
                        m_marked.push_back(marks[reached].second);
                    stepBegan = m_clock.elapsed();
                    break;
                }
            }
            if (m_tellSteps)
                flushMarks(easy, protocol);
            if (cancelled())
                return CURLE_ABORTED_BY_CALLBACK;
            if (m_clock.elapsed() - stepBegan > qint64(m_request.stepSeconds) * 1000) {
                *timedOut = true;
                return CURLE_OPERATION_TIMEDOUT;
            }
            if (running)
                curl_multi_poll(multi.get(), nullptr, 0, 100, nullptr);
        }
        int left = 0;
        while (CURLMsg *message = curl_multi_info_read(multi.get(), &left)) {
            if (message->msg == CURLMSG_DONE)
                code = message->data.result;
        }
        curl_multi_remove_handle(multi.get(), easy);
        return code;
    }

    // Tells the steps curl's times showed as done.
    void flushMarks(CURL *easy, const Protocol &protocol)
    {
        for (const CheckStep::Kind kind : std::exchange(m_marked, {})) {
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
                if (protocol.channel == Protocol::Tls || protocol.channel == Protocol::ExplicitTls)
                    pass(kind, QStringLiteral("TLS, Zertifikat ") + DescribeCertificate(easy));
                break;
            default:
                pass(kind, {});
                break;
            }
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
        char errors[CURL_ERROR_SIZE] = {};
        m_hostKey.trustNew = m_request.trustNewHostKey;
        Easy easy = transfer(url, protocol, user, &m_hostKey, errors);
        qint64 lines = 0;
        curl_easy_setopt(easy.get(), CURLOPT_WRITEFUNCTION, countLines);
        curl_easy_setopt(easy.get(), CURLOPT_WRITEDATA, &lines);
        bool timedOut = false;
        const CURLcode code = perform(easy.get(), protocol, &timedOut);
        if (protocol.channel == Protocol::Ssh)
            passHostKey();
        if (code != CURLE_OK) {
            // A handshake refused after the connection: libcurl counts the
            // connection as made only with its TLS, but it was made.
            if (isHandshakeFailure(code) && !told(CheckStep::Kind::Connection))
                m_marked.push_back(CheckStep::Kind::Connection);
            flushMarks(easy.get(), protocol);
            failed(code, timedOut, url, protocol, QString::fromUtf8(errors));
            return;
        }
        long status = 0;
        curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &status);
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
        char errors[CURL_ERROR_SIZE] = {};
        Easy easy = transfer(url, protocol, user, &m_hostKey, errors);
        CURL *e = easy.get();
        curl_easy_setopt(e, CURLOPT_URL, transferUrl(url, protocol, name).constData());
        curl_easy_setopt(e, CURLOPT_DIRLISTONLY, 0L);
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
        m_tellSteps = false;
        const CURLcode code = perform(e, protocol, &timedOut);
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
        char errors[CURL_ERROR_SIZE] = {};
        Easy easy = transfer(url, protocol, {}, &m_hostKey, errors);
        curl_easy_setopt(easy.get(), CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(easy.get(), CURLOPT_SSL_VERIFYHOST, 0L);
        curl_easy_setopt(easy.get(), CURLOPT_CONNECT_ONLY, 1L);
        curl_easy_setopt(easy.get(), CURLOPT_TIMEOUT, long(m_request.stepSeconds));
        curl_easy_perform(easy.get());
        const QString described = DescribeCertificate(easy.get());
        return described.isEmpty() ? QStringLiteral("es ließ sich nicht lesen") : described;
    }

    const CheckRequest &m_request;
    const std::function<void(const CheckStep &)> &m_seen;
    const std::atomic<bool> *m_cancel;
    QElapsedTimer m_clock;
    CheckResult m_result;
    HostKeySeen m_hostKey;
    std::vector<CheckStep::Kind> m_marked;
    bool m_tellSteps = true;
    bool m_ftpSignedIn = false;
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
