#include "storeerror.h"

#include <QDir>

#include <sqlite3.h>

StoreError::StoreError(const QString &file, const QString &cause)
    : StoreError(QStringLiteral("Serverbook-Datei %1: %2").arg(QDir::toNativeSeparators(file), cause), cause, Composed{})
{
}

StoreError::StoreError(const QString &message, const QString &cause, Composed)
    : m_message(message), m_cause(cause), m_utf8(message.toUtf8())
{
}

StoreError StoreError::InBackup(const QString &file, const QString &cause)
{
    return StoreError(QStringLiteral("Sicherung %1: %2").arg(QDir::toNativeSeparators(file), cause), cause, Composed{});
}

QString ExplainEngineError(int sqliteCode, const QString &engineText)
{
    QString explanation;
    switch (sqliteCode & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        explanation = QStringLiteral("Die Datei ist von einem anderen Programm gesperrt");
        break;
    case SQLITE_NOTADB:
        explanation = QStringLiteral("Die Datei ist keine SQLite-Datenbank");
        break;
    case SQLITE_CORRUPT:
        explanation = QStringLiteral("Die Datei ist beschädigt");
        break;
    case SQLITE_READONLY:
        explanation = QStringLiteral("Die Datei ist schreibgeschützt");
        break;
    case SQLITE_FULL:
        explanation = QStringLiteral("Der Datenträger ist voll");
        break;
    case SQLITE_CANTOPEN:
        explanation = QStringLiteral("Die Datei kann nicht geöffnet werden");
        break;
    case SQLITE_IOERR:
        explanation = QStringLiteral("Die Datei kann nicht gelesen oder geschrieben werden");
        break;
    case SQLITE_PERM:
    case SQLITE_AUTH:
        explanation = QStringLiteral("Der Zugriff auf die Datei ist nicht erlaubt");
        break;
    case SQLITE_ABORT:
    case SQLITE_CONSTRAINT:
        explanation = QStringLiteral("Die Datenbank hat die Änderung abgelehnt");
        break;
    case SQLITE_ERROR:
        if (engineText.contains(QLatin1String("no such table")))
            explanation = QStringLiteral("Die Datei enthält keine Tabelle Serverbook");
        else if (engineText.contains(QLatin1String("no such column")))
            explanation = QStringLiteral("Der Tabelle Serverbook fehlt ein Feld");
        break;
    default:
        break;
    }
    if (explanation.isEmpty())
        return engineText;
    return engineText.isEmpty() ? explanation : explanation + QStringLiteral(" (") + engineText + QLatin1Char(')');
}
