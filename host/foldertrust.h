#pragma once

#include "ostrelhost_global.h"

#include <QString>

// Why a folder cannot be trusted with modules and the user's book: it, or a
// folder above it up to stopAt (the user's home; none: the root), belongs
// to another user than the one running (or root), or others may write into
// it (a group other than the user's own, or everyone), so that they could plant a module or read and change the book. A
// world-writable folder with the sticky bit (/tmp) is trusted above a
// folder, as others cannot replace what lies in it. Links are followed, so
// a link to another user's folder is judged by that folder. Empty when the
// folder can be trusted; the reason says what to do.
OSTRELHOST_EXPORT QString WhyNotTrusted(const QString &folder, const QString &stopAt = {});
