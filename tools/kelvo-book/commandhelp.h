#pragma once

#include <QString>

// kelvo-book's help, in German: one text a command, and the overview.

// The overview: every command's call, one line each.
QString OverviewHelp();
// The help of one command; empty for a name that is no command.
QString CommandHelp(const QString &command);
// Whether name is a command.
bool IsCommand(const QString &name);
