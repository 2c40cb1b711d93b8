#pragma once

#include "securechannel.h"
#include "sitecheck.h"

#include <curl/curl.h>

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

// How the check reaches a scheme: libcurl's scheme, the worker service that
// transfers over it, and the secure channel it demands.
struct Protocol {
    const char *curlScheme;
    int service;
    enum Channel { Plain, Tls, ExplicitTls, Ssh } channel;
    bool lists;  // a folder can be listed (FTP, SFTP); HTTP only answers

    bool secured() const { return channel == Tls || channel == ExplicitTls; }
};

// The protocol of an address's scheme (lower case); none for a scheme no
// check can use.
std::optional<Protocol> ProtocolOf(const QString &scheme);

// One libcurl transfer to an entry's start directory: a listing (FTP,
// SFTP) or a request without body (HTTP), signed in as the request says,
// trusting the request's extra certificates and known hosts. It runs with
// a time limit on each step and ends at once when cancelled.
class CurlTransfer
{
public:
    // name, when given, is a file in the start directory instead of the
    // directory itself.
    CurlTransfer(const CheckRequest &request, const QByteArray &extraAuthorities, const QUrl &url,
                 const Protocol &protocol, const QString &user, HostKeySeen *hostKey, const QString &name = {});

    CURL *handle() const { return m_easy.get(); }
    // What libcurl said about its failure; may be empty.
    QString errorText() const { return QString::fromUtf8(m_errors); }

    // Runs the transfer to its end. reached is told each step that curl's
    // times show done, in order; cancel ends the run with
    // CURLE_ABORTED_BY_CALLBACK, a step beyond its limit with
    // CURLE_OPERATION_TIMEDOUT and *timedOut set.
    CURLcode Perform(const std::function<void(CheckStep::Kind)> &reached, const std::atomic<bool> *cancel,
                     bool *timedOut);

private:
    struct EasyCleanup {
        void operator()(CURL *easy) const { curl_easy_cleanup(easy); }
    };

    std::unique_ptr<CURL, EasyCleanup> m_easy;
    const Protocol m_protocol;
    const int m_stepSeconds;
    char m_errors[CURL_ERROR_SIZE] = {};
    // FTP's "230": signed in, whatever later commands do.
    bool m_ftpSignedIn = false;
};
