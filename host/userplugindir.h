#pragma once

#include "ostrelhost_global.h"

#include <QString>

// An installed host is shared by every user of the machine, and its plug-in
// folder under /usr belongs to the system. Each user gets a plug-in folder of
// their own for their data and their own modules:
// $XDG_DATA_HOME/ostrel/plugins (~/.local/share/ostrel/plugins by default).
OSTRELHOST_EXPORT QString UserPluginDir();

// Makes a user's plug-in folder ready on the host's first start. Only when dir
// does not exist yet: makes it with the files of skeleton (the empty book
// that an installed module brings, for instance), folders included,
// readable by the user alone, under a name of its own and then renamed into
// place, so that a start killed halfway leaves nothing at dir and two first
// starts at once both find it whole. Without the skeleton nothing is made.
// An existing dir is left as it is, so that what the user removed on
// purpose does not come back. False, with the reason in *errorString, when
// something could not be made.
OSTRELHOST_EXPORT bool PrepareUserPluginDir(const QString &dir, const QString &skeleton, QString *errorString);
