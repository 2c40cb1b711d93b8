#include "securechannel.h"

#include <QCryptographicHash>

namespace {

QString sha256Of(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toBase64(
        QByteArray::OmitTrailingEquals));
}

} // namespace

int JudgeHostKey(CURL *, const curl_khkey *, const curl_khkey *found, curl_khmatch match, void *data)
{
    auto *seen = static_cast<HostKeySeen *>(data);
    const QByteArray key = found->len ? QByteArray(found->key, qsizetype(found->len))
                                      : QByteArray::fromBase64(QByteArray(found->key));
    seen->fingerprint = QStringLiteral("SHA256:") + sha256Of(key);
    switch (match) {
    case CURLKHMATCH_OK:
        seen->state = HostKeySeen::Known;
        return CURLKHSTAT_FINE;
    case CURLKHMATCH_MISSING:
        seen->state = seen->trustNew ? HostKeySeen::Added : HostKeySeen::Unknown;
        return seen->trustNew ? CURLKHSTAT_FINE_ADD_TO_FILE : CURLKHSTAT_REJECT;
    default:
        seen->state = HostKeySeen::Changed;
        return CURLKHSTAT_REJECT;
    }
}

QString DescribeCertificate(CURL *easy)
{
    curl_certinfo *info = nullptr;
    if (curl_easy_getinfo(easy, CURLINFO_CERTINFO, &info) != CURLE_OK || !info || info->num_of_certs < 1)
        return {};
    QString issuer, subject, names;
    QByteArray der;
    for (curl_slist *field = info->certinfo[0]; field; field = field->next) {
        const QString text = QString::fromUtf8(field->data);
        const qsizetype colon = text.indexOf(QLatin1Char(':'));
        const QString name = text.left(colon), value = text.mid(colon + 1).trimmed();
        if (name == QLatin1String("Issuer"))
            issuer = value;
        else if (name == QLatin1String("Subject"))
            subject = value;
        else if (name == QLatin1String("X509v3 Subject Alternative Name"))
            names = value;
        else if (name == QLatin1String("Cert"))
            der = QByteArray::fromBase64(value.toLatin1().replace("-----BEGIN CERTIFICATE-----", "").replace(
                "-----END CERTIFICATE-----", ""));
    }
    return QStringLiteral("ausgestellt von %1 für %2, SHA-256 %3")
        .arg(issuer, names.isEmpty() ? subject : names,
             QString::fromLatin1(QCryptographicHash::hash(der, QCryptographicHash::Sha256).toHex(':').toUpper()));
}

QString CertificateProblem(const QString &curlText)
{
    if (curlText.contains(QLatin1String("self-signed"), Qt::CaseInsensitive)
        || curlText.contains(QLatin1String("self signed"), Qt::CaseInsensitive))
        return QStringLiteral("es ist selbst signiert");
    if (curlText.contains(QLatin1String("expired"), Qt::CaseInsensitive))
        return QStringLiteral("es ist abgelaufen");
    if (curlText.contains(QLatin1String("subject name"), Qt::CaseInsensitive)
        || curlText.contains(QLatin1String("host name"), Qt::CaseInsensitive))
        return QStringLiteral("es gilt nicht für diesen Servernamen");
    if (curlText.contains(QLatin1String("issuer"), Qt::CaseInsensitive))
        return QStringLiteral("sein Aussteller ist unbekannt");
    return QStringLiteral("es wurde nicht bestätigt");
}

