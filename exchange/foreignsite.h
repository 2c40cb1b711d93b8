#pragma once

#include <QString>

#include <optional>
#include <vector>

// A saved site as another client keeps it, read from that client's file.
// Credentials are never part of it.
struct ForeignSite {
    // The site's name with its folders before it, joined by "/".
    QString label;
    // ftp, ftps (implicit TLS), sftp, scp, http, https, dav, davs, s3, or a
    // name for a protocol the book has no use for.
    QString scheme;
    QString host;
    // 0 for the scheme's standard port.
    int port = 0;
    // The remote start directory, decoded; empty when the site has none.
    QString remoteDir;
};

// An entry of the server book as the exchange formats see it.
struct BookEntry {
    int ordinal = 0;
    QString label, server, startDir, pluginFile;
};

// What a reader made of a file: the sites, or why it could not (with the
// line where it can say).
struct ReadResult {
    std::vector<ForeignSite> sites;
    QString error;
    bool ok() const { return error.isEmpty(); }
};

// The scheme's standard port; 0 when it has none known here.
int StandardPort(const QString &scheme);
