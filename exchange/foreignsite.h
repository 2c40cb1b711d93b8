#pragma once

#include <QString>

#include <optional>
#include <vector>

// A saved site as another client keeps it, read from that client's file.
struct ForeignSite {
    // The site's name with its folders before it, joined by "/".
    QString label;
    // ftp, ftps (FTP over implicit TLS), ftpes (FTP with explicit TLS, the
    // client must demand it), sftp, scp, http, https, dav, davs, s3, or a
    // name for a protocol the book has no use for.
    QString scheme;
    QString host;
    // 0 for the scheme's standard port.
    int port = 0;
    // The remote start directory, decoded; empty when the site has none.
    QString remoteDir;
    // The user name, which the entry's address keeps, and the password,
    // which never reaches the book (only the keyring, when asked).
    QString user;
    QString password;
};

// An entry of the server book as the exchange formats see it.
struct BookEntry {
    int ordinal = 0;
    QString label, server, startDir, pluginFile;
};

// More sites than any client's site list holds (FileZilla's file of
// 100,000 has about 40 MB). A reader refuses more, so that what an import
// keeps stays bounded whatever a file claims.
constexpr size_t kMostSites = 1'000'000;
// Why a list with more is refused.
QString TooManySites();

// What a reader made of a file: the sites, or why it could not (with the
// line where it can say).
struct ReadResult {
    std::vector<ForeignSite> sites;
    QString error;
    bool ok() const { return error.isEmpty(); }
};

class QByteArray;
class QXmlStreamReader;

// The scheme's standard port; 0 when it has none known here.
int StandardPort(const QString &scheme);

// A host name that addresses keep exactly as written: lowercase ASCII
// letters, digits and hyphens in dot-separated labels of 1 to 63 characters,
// none beginning or ending with a hyphen or spelled as punycode, the last
// beginning with a letter (so that it is no IP address in any spelling).
// Such a host needs no URL parser to be read or written; others do.
bool IsPlainHostName(QStringView host);

// The parts of an address such as "ftp://host.example:2121/dir" when it is
// that plain: a scheme, a plain host name, a port without leading zeros
// (-1 without one), then nothing or a path of letters, digits and "-._~/".
// They are what QUrl gives for it (the scheme lowercased). None for every
// other address, which QUrl must read.
struct PlainAddress {
    QString scheme;
    QStringView host;
    int port = -1;
};
std::optional<PlainAddress> ParsePlainAddress(QStringView address);

// Appends text to out as UTF-8, as toUtf8() gives it; plain ASCII without
// a converter.
void AppendUtf8(QByteArray &out, QStringView text);

// Moves "user:password@" written before a site's host into its user and
// password, unless the site names them apart.
void TakeCredentialsFromHost(ForeignSite &site);
// A site's label without a user name: "user@host" as the last part of a
// label (WinSCP names its sessions so) becomes "host".
QString LabelWithoutCredentials(const QString &label, const QString &host);
// A control character: C0, DEL or C1. None belongs in a book's texts.
inline bool IsControlCharacter(QChar c)
{
    return c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() <= 0x9F);
}
// The first of text's control characters, shown as \xNN or \uNNNN; empty
// when it has none.
QString ControlCharacterIn(QStringView text);
// Text from a file, fit to quote in a message: control characters, and
// characters that are no text, are written as \xNN or \uNNNN.
QString Printable(QStringView text);
// What is wrong with an XML file the reader stopped in, with the line.
QString XmlProblem(const QXmlStreamReader &xml);
