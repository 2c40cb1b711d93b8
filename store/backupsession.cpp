#include "backupsession.h"

#include "bookfile.h"
#include "cbookbackups.h"
#include "sqlite.h"
#include "writetransaction.h"

#include <QFileInfo>
#include <QScopeGuard>
#include <QStringList>

namespace {

QStringList columnsOf(const SqliteConnection &connection, const char *schema)
{
    QStringList columns;
    SqliteStatement info = connection.Prepare(
        QStringLiteral("SELECT name FROM pragma_table_info('Serverbook', '%1')").arg(QLatin1String(schema)).toUtf8());
    while (info.Step())
        columns << info.Text(0);
    return columns;
}

} // namespace

void BackupSession::BeforeChange(const SqliteConnection &book)
{
    if (m_made.isEmpty())
        BackUpNow(book);
}

void BackupSession::BackUpNow(const SqliteConnection &book)
{
    if (m_failure)
        throw *m_failure;
    try {
        m_made = CBookBackups(m_bookFile).Make(book);
    } catch (const StoreError &error) {
        m_failure = error;
        throw;
    }
}

void BackupSession::AfterCommit()
{
    if (m_made.isEmpty() || m_rotated)
        return;
    m_rotated = true;
    CBookBackups(m_bookFile).Rotate({m_made, m_restoredFrom});
}

void BackupSession::Restore(const BookFile &book, const QString &backupFile)
{
    // A book that may only be read is refused before anything is backed up.
    WriteTransaction::RefuseIfReadOnly(book);
    const CBookBackups::Backup checked = CBookBackups(m_bookFile).Inspect(QFileInfo(backupFile).fileName());
    if (!checked.complete())
        throw StoreError::InBackup(backupFile, checked.problem);
    m_restoredFrom = QFileInfo(backupFile).fileName();
    BackUpNow(book.Connection());
    // Attached read-only and immutable: a restore neither changes the backup
    // it reads nor creates a file beside it.
    const SqliteConnection &connection = book.Connection();
    SqliteStatement attach = connection.Prepare("ATTACH DATABASE ? AS backup");
    attach.BindUtf8(1, SqliteConnection::UriOf(backupFile, SqliteConnection::Access::Immutable));
    try {
        attach.Run();
    } catch (const StoreError &error) {
        throw StoreError::InBackup(backupFile, error.cause());
    }
    const auto detach = qScopeGuard([&connection] { connection.ExecQuietly("DETACH DATABASE backup"); });

    const QStringList backupColumns = columnsOf(connection, "backup");
    for (const char *field : {"Bezeichnung", "Servername", "Startverzeichnis", "Plugindateiname"}) {
        if (!backupColumns.contains(QLatin1String(field), Qt::CaseInsensitive))
            throw StoreError(backupFile, QStringLiteral("Die Sicherung hat keine Tabelle Serverbook mit dem Feld %1.")
                                             .arg(QLatin1String(field)));
    }
    // Further columns come back as the backup has them, where the book still has them.
    QStringList columns{QStringLiteral("rowid")};
    const QStringList bookColumns = columnsOf(connection, "main");
    for (const QString &column : backupColumns) {
        if (bookColumns.contains(column, Qt::CaseInsensitive))
            columns << QLatin1Char('"') + QString(column).replace(QLatin1Char('"'), QLatin1String("\"\"")) + QLatin1Char('"');
    }
    WriteTransaction transaction(book, *this);
    connection.Exec("DELETE FROM main.Serverbook");
    connection.Prepare(QStringLiteral("INSERT INTO main.Serverbook (%1) SELECT %1 FROM backup.Serverbook")
                           .arg(columns.join(QStringLiteral(", ")))
                           .toUtf8())
        .Run();
    transaction.Commit();
}
