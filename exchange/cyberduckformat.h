#pragma once

#include "foreignsite.h"

#include <QByteArray>

// A Cyberduck bookmark (.duck): an XML property list of one site.
bool LooksLikeCyberduck(const QByteArray &content);
ReadResult ReadCyberduck(const QByteArray &content);
