#pragma once

#include "pluginapi.h"

#include <QString>

// Splits an address into its service (protocol), server, object (the path
// part, beginning with "/") and port. Recognises the schemes of the known
// services (ftp, ftps and ftpes for FTP with TLS, gopher, http, https, file,
// mailto, news, nntp, telnet, wais,
// ...) in any case, and bare local paths as the file service: drive-letter
// paths, UNC paths and, outside Windows, absolute paths.
//
// Returns false for anything else, with service Service::Unknown, an empty
// server, port 0 and object "/": a half-typed address still has a path, so a
// start path derived from it stays sensible while the user types.
bool AfxParseURL(const QString &url, ServiceCode &service, QString &server, QString &object,
                 quint16 &port);
