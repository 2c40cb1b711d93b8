#pragma once

#include <QString>

// What the module remembers between the host's calls: the outcome of the last
// server book selection, from load to unload.
struct PluginState {
    // 1 OK, 2 Cancel, -1 when the dialog could not be shown; 0 before any.
    int lastResult = 0;
    QString lastServer;
    QString lastStartDir;
    QString lastPluginFile;
    // Why the last ShowServerBook showed nothing; empty when it ran.
    QString lastError;
};
