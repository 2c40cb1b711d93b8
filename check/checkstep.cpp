#include "sitecheck.h"

// The words of the check for its steps, and kelvo-book's exit codes.

QString StepName(CheckStep::Kind kind)
{
    switch (kind) {
    case CheckStep::Kind::Address:
        return QStringLiteral("Adresse verstanden");
    case CheckStep::Kind::Worker:
        return QStringLiteral("Publishing-Worker");
    case CheckStep::Kind::Name:
        return QStringLiteral("Name aufgelöst");
    case CheckStep::Kind::Connection:
        return QStringLiteral("Verbunden");
    case CheckStep::Kind::Secure:
        return QStringLiteral("Sicherer Kanal");
    case CheckStep::Kind::SignIn:
        return QStringLiteral("Angemeldet");
    case CheckStep::Kind::StartDir:
        return QStringLiteral("Startverzeichnis");
    case CheckStep::Kind::Write:
        return QStringLiteral("Schreibtest");
    }
    return {};
}

int ExitCodeOf(CheckFailure failure)
{
    switch (failure) {
    case CheckFailure::None:
        return 0;
    case CheckFailure::Address:
    case CheckFailure::Worker:
        return 3;
    case CheckFailure::NameUnknown:
        return 4;
    case CheckFailure::Unreachable:
        return 5;
    case CheckFailure::TimedOut:
        return 6;
    case CheckFailure::Certificate:
    case CheckFailure::HostKey:
        return 7;
    case CheckFailure::SignIn:
        return 8;
    case CheckFailure::StartDir:
    case CheckFailure::Permission:
        return 9;
    case CheckFailure::Cancelled:
    case CheckFailure::Other:
        return 1;
    }
    return 1;
}

