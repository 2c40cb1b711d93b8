#pragma once

#include <QString>

class CServerBookStore;
struct ImportPlan;

// kelvo-book's part in keeping passwords out of the book: they live in the
// desktop's keyring under the user, server, protocol and port of an
// entry's address.

// A password in server goes into the keyring and out of server, and the
// user is told so; false, after saying why, when it cannot (no user name to
// keep it under, no keyring): then nothing may be stored.
bool PutPasswordAside(QString &server);

// After an import: the sites' passwords into the keyring, under their
// entries' addresses (also of sites already in the book), with how many.
int KeepImportedPasswords(const ImportPlan &plan);
// After an import without that: how many passwords stayed behind.
int TellPasswordsLeft(const ImportPlan &plan);

// password set ORDINAL: reads the password from standard input (without
// echo on a terminal) and keeps it for the entry.
int SetPassword(CServerBookStore &store, int ordinal);
// password clear ORDINAL: removes the entry's password from the keyring.
int ClearPassword(CServerBookStore &store, int ordinal);
// password list: for each entry whether the keyring holds its password.
int ListPasswords(CServerBookStore &store);
// password move: moves passwords that older versions left in addresses
// into the keyring, then out of the book in one change (a backup first);
// names the backups that still hold them, which stay as they are.
int MovePasswords(CServerBookStore &store);
