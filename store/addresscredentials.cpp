#include "addresscredentials.h"

#include <QUrl>

namespace {

// Where the user info of an address lies: from after "://" up to its last
// "@" before the path (end is at the "@"; 0 when there is none).
struct UserInfo {
    qsizetype begin = 0;
    qsizetype end = 0;
    bool present() const { return end > 0; }
};

UserInfo userInfoOf(QStringView address)
{
    const qsizetype separator = address.indexOf(QLatin1String("://"));
    if (separator <= 0)
        return {};
    const qsizetype begin = separator + 3;
    qsizetype authorityEnd = begin;
    while (authorityEnd < address.size() && address[authorityEnd] != u'/' && address[authorityEnd] != u'?'
           && address[authorityEnd] != u'#')
        ++authorityEnd;
    const qsizetype at = address.first(authorityEnd).lastIndexOf(u'@');
    if (at < begin)
        return {};
    return {begin, at};
}

QString decoded(QStringView text)
{
    return QUrl::fromPercentEncoding(text.toUtf8());
}

} // namespace

AddressCredentials CredentialsIn(QStringView address)
{
    const UserInfo info = userInfoOf(address);
    if (!info.present())
        return {};
    const QStringView userInfo = address.sliced(info.begin, info.end - info.begin);
    const qsizetype colon = userInfo.indexOf(u':');
    if (colon < 0)
        return {decoded(userInfo), {}, false};
    return {decoded(userInfo.first(colon)), decoded(userInfo.sliced(colon + 1)), true};
}

QString WithoutPassword(const QString &address)
{
    const UserInfo info = userInfoOf(address);
    if (!info.present())
        return address;
    const qsizetype colon = QStringView(address).sliced(info.begin, info.end - info.begin).indexOf(u':');
    if (colon < 0)
        return address;
    // With no user name before the password, the "@" goes too.
    if (colon == 0)
        return address.left(info.begin) + address.mid(info.end + 1);
    return address.left(info.begin + colon) + address.mid(info.end);
}

QString PasswordHidden(const QString &address)
{
    if (!CredentialsIn(address).hasPassword)
        return address;
    const UserInfo info = userInfoOf(address);
    const qsizetype colon = QStringView(address).sliced(info.begin, info.end - info.begin).indexOf(u':');
    return address.left(info.begin + colon + 1) + QStringLiteral("••••") + address.mid(info.end);
}

QString WithUser(const QString &address, const QString &user)
{
    const qsizetype separator = address.indexOf(QLatin1String("://"));
    if (separator <= 0)
        return address;
    const UserInfo info = userInfoOf(address);
    const qsizetype hostBegin = info.present() ? info.end + 1 : separator + 3;
    if (user.isEmpty())
        return address.left(separator + 3) + address.mid(hostBegin);
    // Letters, digits and "-._~" and the sub-delimiters stay; ":", "@", "/",
    // "%", spaces and all that is not ASCII are encoded.
    const QString encoded = QString::fromLatin1(QUrl::toPercentEncoding(user, "!$&'()*+,;="));
    return address.left(separator + 3) + encoded + u'@' + address.mid(hostBegin);
}
