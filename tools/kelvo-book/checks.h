#pragma once

#include <QString>

#include <optional>
#include <vector>

class CServerBookStore;
struct WorkerInfo;

struct CheckOptions {
    std::optional<int> ordinal;  // none: every entry
    bool json = false;
    bool writeTest = false;
    bool trustHostKey = false;
};

// check ORDINAL | --all: checks entries as the dialog's "Verbindung prüfen"
// does, several at once (at most four), each with the password the keyring
// holds for it. One line a step, or JSON; the exit code is that of the
// first entry that failed, by the kind of its failure (0: all passed).
int CheckEntries(CServerBookStore &store, const std::vector<WorkerInfo> &workers, const CheckOptions &options);
