#pragma once

#include <QString>

class CServerBookStore;

// backups: one line per backup of the book in file, oldest first: name,
// local time, entries, and what restoring it would change in the book now.
int ListBackups(const QString &file);
// restore NAME: the book in file as the backup NAME holds it, after a
// backup of the book as it is; with dryRun only the entries that would
// change, one a line.
int RestoreBackup(CServerBookStore &store, const QString &file, const QString &name, bool dryRun);
