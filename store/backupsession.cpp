#include "backupsession.h"

#include "cbookbackups.h"
#include "sqlite.h"

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
