#pragma once

#include "foreignsite.h"

#include <QByteArray>
#include <QIODevice>

// WinSCP's configuration file (WinSCP.ini): one section [Sessions\NAME] per
// site, NAME and values %XX-escaped, "/" in NAME separating folders.
bool LooksLikeWinScp(const QByteArray &content);
ReadResult ReadWinScp(const QByteArray &content);
// The same, line by line as the input comes, holding only the sessions.
ReadResult ReadWinScp(QIODevice *input);
