#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

// Every failure of the server book's database engine, with the file and the
// cause in one message fit to show to the user.
class StoreError : public std::exception
{
public:
    StoreError(const QString &file, const QString &cause);
    // A failure of a backup's file, named as the backup it is.
    static StoreError InBackup(const QString &file, const QString &cause);

    QString message() const { return m_message; }
    // What went wrong, without the file it went wrong in.
    QString cause() const { return m_cause; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    struct Composed {};
    StoreError(const QString &message, const QString &cause, Composed);

    QString m_message;
    QString m_cause;
    QByteArray m_utf8;
};

// The engine's own text after a German explanation of its result code, so a
// user reads what is wrong and a maintainer still sees what SQLite said.
QString ExplainEngineError(int sqliteCode, const QString &engineText);
