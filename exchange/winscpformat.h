#pragma once

#include "foreignsite.h"

#include <QByteArray>

// WinSCP's configuration file (WinSCP.ini): one section [Sessions\NAME] per
// site, NAME and values %XX-escaped, "/" in NAME separating folders.
bool LooksLikeWinScp(const QByteArray &content);
ReadResult ReadWinScp(const QByteArray &content);
