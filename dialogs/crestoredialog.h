#pragma once

#include <QDialog>
#include <QString>

class CBookBackups;
class QPushButton;
class QTreeWidget;

// Lists the backups of a book, newest first, with when each was made (local
// time), how many entries it holds and what restoring it would change in the
// book as it is now; the user picks one to restore. Backups that cannot be
// restored are shown, greyed, with the reason.
class CRestoreDialog : public QDialog
{
public:
    CRestoreDialog(const CBookBackups &backups, QWidget *parent);

    // The chosen backup's name, and its line as the question repeats it.
    QString ChosenBackup() const;
    QString ChosenDescription() const;

private:
    QTreeWidget *m_list;
    QPushButton *m_restore;
};
