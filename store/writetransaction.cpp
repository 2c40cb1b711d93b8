#include "writetransaction.h"

#include "backupsession.h"
#include "bookfile.h"
#include "storeerror.h"

void WriteTransaction::RefuseIfReadOnly(const BookFile &book)
{
    if (!book.ReadOnlyReason().isEmpty())
        throw StoreError(book.File(), QStringLiteral("Das Serverbook kann nur gelesen werden: %1; "
                                                     "nichts wurde geändert.")
                                          .arg(book.ReadOnlyReason()));
}

WriteTransaction::WriteTransaction(const BookFile &book, BackupSession &backups) : m_book(book), m_backups(backups)
{
    RefuseIfReadOnly(m_book);
    m_backups.BeforeChange(m_book.Connection());
    m_book.Connection().Exec("BEGIN IMMEDIATE");
    if (m_book.Replaced()) {
        m_book.Connection().ExecQuietly("ROLLBACK");
        throw StoreError(m_book.File(), QStringLiteral("Die Datei wurde inzwischen durch eine andere ersetzt "
                                                       "(etwa von einem Sync-Programm); nichts wurde geändert. "
                                                       "Das Serverbook wird neu eingelesen."));
    }
}

WriteTransaction::~WriteTransaction()
{
    if (!m_committed)
        m_book.Connection().ExecQuietly("ROLLBACK");
}

void WriteTransaction::Commit()
{
    m_book.Connection().Exec("COMMIT");
    m_committed = true;
    m_backups.AfterCommit();
}
