#pragma once

#include "siteimport.h"

#include <QString>

#include <atomic>
#include <functional>
#include <vector>

// Whether an entry works before anything is uploaded: its address is
// understood, its worker is loaded and transfers over its protocol, the
// name resolves, the server answers, the secure channel is trusted, the user
// signs in and the start directory can be listed. Nothing is written on a
// server unless a write test is asked for, which creates and removes one
// uniquely named empty file. Transfers go through libcurl; every step has a
// time limit, and the check can be cancelled at any moment.

struct CheckStep {
    enum class Kind { Address, Worker, Name, Connection, Secure, SignIn, StartDir, Write };
    enum class Outcome { Passed, Failed, Skipped };
    Kind kind = Kind::Address;
    Outcome outcome = Outcome::Passed;
    QString detail;  // German, for the user: what was found, or what went wrong
    qint64 ms = 0;   // since the check began
};

// What went wrong, by kind: each has its exit code in kelvo-book check.
enum class CheckFailure {
    None,
    Address,       // the address is not understood
    Worker,        // the worker is missing or for another protocol
    NameUnknown,   // the server's name does not resolve
    Unreachable,   // connection refused or no route
    TimedOut,      // no answer within the step's time limit
    Certificate,   // a TLS certificate that is not trusted
    HostKey,       // an SSH host key unknown or changed
    SignIn,        // sign-in refused
    StartDir,      // the start directory is missing or cannot be listed
    Permission,    // no permission (to list, or to write in the write test)
    Cancelled,
    Other,
};

struct CheckRequest {
    QString server;
    QString startDir;
    QString pluginFile;
    // The loaded publishing workers.
    std::vector<WorkerInfo> workers;
    // The password to sign in with (from the keyring or asked); empty: none.
    QString password;
    bool writeTest = false;
    // Where SSH host keys the user trusts are kept.
    QString knownHostsFile;
    // An SSH host key not yet known is kept: the user said to trust it.
    bool trustNewHostKey = false;
    // The time limit of each network step.
    int stepSeconds = 10;
    // A file of certificate authorities to trust instead of the system's
    // store (a test's own authority); empty: the system's store.
    QString extraCertificates;
};

struct CheckResult {
    std::vector<CheckStep> steps;
    CheckFailure failure = CheckFailure::None;
    // An SSH host key the known-hosts file does not hold yet (its
    // fingerprint is in the secure step's detail): the user may trust it.
    bool hostKeyUnknown = false;
    bool passed() const { return failure == CheckFailure::None; }
};

// The step's name as the check dialog and kelvo-book show it.
QString StepName(CheckStep::Kind kind);
// kelvo-book check's exit code for a failure: 0 for none.
int ExitCodeOf(CheckFailure failure);

// Runs a check in the calling thread. seen hears each step as it ends (on
// this thread); cancel, set from another thread, ends the check within a
// tenth of a second.
CheckResult RunSiteCheck(const CheckRequest &request, const std::function<void(const CheckStep &)> &seen,
                         const std::atomic<bool> *cancel);

// The user's own known-hosts file for SSH host keys the checks trust:
// $XDG_DATA_HOME/ostrel/known_hosts.
QString DefaultKnownHostsFile();
