#include "curltransfer.h"

#include "pluginapi.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <string_view>
#include <utility>
#include <vector>

namespace {

struct MultiCleanup {
    void operator()(CURLM *multi) const { curl_multi_cleanup(multi); }
};

// FTP says "230" once the user is signed in: later commands (the data
// connection, the listing) may still fail, and are not the sign-in's fault.
int watchReplies(CURL *, curl_infotype type, char *data, size_t size, void *signedIn)
{
    if (type == CURLINFO_HEADER_IN && size >= 4 && std::string_view(data, 4) == "230 ")
        *static_cast<bool *>(signedIn) = true;
    return 0;
}

// The start directory, or a file in it, as the URL libcurl reaches it by:
// FTP paths are relative to the login folder unless they begin with %2F.
QByteArray transferUrl(const QUrl &url, const Protocol &protocol, const QString &startDir, const QString &name)
{
    QString dir = startDir.isEmpty() ? QStringLiteral("/") : startDir;
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

} // namespace

std::optional<Protocol> ProtocolOf(const QString &scheme)
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

CurlTransfer::CurlTransfer(const CheckRequest &request, const QByteArray &extraAuthorities, const QUrl &url,
                           const Protocol &protocol, const QString &user, HostKeySeen *hostKey, const QString &name)
    : m_easy(curl_easy_init()), m_protocol(protocol), m_stepSeconds(request.stepSeconds)
{
    CURL *e = m_easy.get();
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, m_errors);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, long(request.stepSeconds));
    curl_easy_setopt(e, CURLOPT_SERVER_RESPONSE_TIMEOUT, long(request.stepSeconds));
    if (!user.isEmpty())
        curl_easy_setopt(e, CURLOPT_USERNAME, user.toUtf8().constData());
    if (!request.password.isEmpty())
        curl_easy_setopt(e, CURLOPT_PASSWORD, request.password.toUtf8().constData());
    if (protocol.channel == Protocol::ExplicitTls)
        curl_easy_setopt(e, CURLOPT_USE_SSL, long(CURLUSESSL_ALL));
    if (protocol.secured()) {
        curl_easy_setopt(e, CURLOPT_CERTINFO, 1L);
        if (!extraAuthorities.isEmpty()) {
            const curl_blob authorities{const_cast<char *>(extraAuthorities.constData()), size_t(extraAuthorities.size()),
                                        CURL_BLOB_COPY};
            curl_easy_setopt(e, CURLOPT_CAINFO_BLOB, &authorities);
        }
    }
    if (protocol.channel == Protocol::Ssh) {
        QDir().mkpath(QFileInfo(request.knownHostsFile).path());
        curl_easy_setopt(e, CURLOPT_SSH_KNOWNHOSTS, QFile::encodeName(request.knownHostsFile).constData());
        curl_easy_setopt(e, CURLOPT_SSH_KEYFUNCTION, JudgeHostKey);
        curl_easy_setopt(e, CURLOPT_SSH_KEYDATA, hostKey);
        curl_easy_setopt(e, CURLOPT_SSH_AUTH_TYPES, long(CURLSSH_AUTH_PASSWORD | CURLSSH_AUTH_KEYBOARD));
    }
    if (QLatin1String(protocol.curlScheme).startsWith(QLatin1String("ftp"))) {
        curl_easy_setopt(e, CURLOPT_DEBUGFUNCTION, watchReplies);
        curl_easy_setopt(e, CURLOPT_DEBUGDATA, &m_ftpSignedIn);
        curl_easy_setopt(e, CURLOPT_VERBOSE, 1L);
    }
    if (protocol.lists && name.isEmpty())
        curl_easy_setopt(e, CURLOPT_DIRLISTONLY, 1L);
    else if (!protocol.lists)
        curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(e, CURLOPT_URL, transferUrl(url, protocol, request.startDir, name).constData());
}

CURLcode CurlTransfer::Perform(const std::function<void(CheckStep::Kind)> &reached, const std::atomic<bool> *cancel,
                               bool *timedOut)
{
    CURL *easy = m_easy.get();
    std::unique_ptr<CURLM, MultiCleanup> multi(curl_multi_init());
    curl_multi_add_handle(multi.get(), easy);
    static const std::pair<CURLINFO, CheckStep::Kind> marks[] = {
        {CURLINFO_NAMELOOKUP_TIME_T, CheckStep::Kind::Name},
        {CURLINFO_CONNECT_TIME_T, CheckStep::Kind::Connection},
        {CURLINFO_APPCONNECT_TIME_T, CheckStep::Kind::Secure},
        {CURLINFO_PRETRANSFER_TIME_T, CheckStep::Kind::SignIn},
    };
    size_t done = 0;
    QElapsedTimer step;
    step.start();
    int running = 1;
    while (running) {
        curl_multi_perform(multi.get(), &running);
        // A later time known means the steps before it are done too.
        for (size_t i = std::size(marks); i-- > done;) {
            curl_off_t at = 0;
            curl_easy_getinfo(easy, marks[i].first, &at);
            if (at > 0 || (m_ftpSignedIn && marks[i].second == CheckStep::Kind::SignIn)) {
                for (; done <= i; ++done) {
                    if (reached)
                        reached(marks[done].second);
                }
                step.restart();
                break;
            }
        }
        if (cancel && cancel->load())
            return CURLE_ABORTED_BY_CALLBACK;
        if (step.elapsed() > qint64(m_stepSeconds) * 1000) {
            *timedOut = true;
            return CURLE_OPERATION_TIMEDOUT;
        }
        if (running)
            curl_multi_poll(multi.get(), nullptr, 0, 100, nullptr);
    }
    CURLcode code = CURLE_OK;
    int left = 0;
    while (CURLMsg *message = curl_multi_info_read(multi.get(), &left)) {
        if (message->msg == CURLMSG_DONE)
            code = message->data.result;
    }
    curl_multi_remove_handle(multi.get(), easy);
    return code;
}
