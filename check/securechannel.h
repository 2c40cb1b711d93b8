#pragma once

#include <curl/curl.h>

#include <QString>

// What a secure channel showed the check: a TLS certificate described for
// the user, and an SSH host key judged against the known-hosts file.

// Who issued the certificate curl saw, for which names, and the SHA-256
// fingerprint of its DER form; empty when curl kept none.
QString DescribeCertificate(CURL *easy);
// Why curl did not trust a certificate, in the user's words.
QString CertificateProblem(const QString &curlText);

// What the SSH host key callback saw.
struct HostKeySeen {
    bool trustNew = false;
    QString fingerprint;  // "SHA256:…", as ssh-keygen -l prints it
    enum { None, Known, Added, Unknown, Changed } state = None;
};

// libcurl's host key callback, with a HostKeySeen as its data: a known key
// passes, an unknown one is kept only when trusted, a changed one never.
int JudgeHostKey(CURL *easy, const curl_khkey *known, const curl_khkey *found, curl_khmatch match, void *seen);
