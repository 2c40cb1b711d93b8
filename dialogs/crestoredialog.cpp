#include "crestoredialog.h"

#include "cbookbackups.h"
#include "modalaccessibility.h"
#include "rememberedsize.h"
#include "storeerror.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

enum Column { Made, Entries, Difference };

// What restoring the backup would change, shown short and in words (for a
// screen reader and the question); a book that cannot be read now does not
// keep its backups from being listed.
struct Told {
    QString shown, inWords;
};

Told differenceOf(const CBookBackups &backups, const CBookBackups::Backup &backup)
{
    if (!backup.complete()) {
        const QString broken = QStringLiteral("beschädigt: ") + backup.problem;
        return {broken, broken};
    }
    try {
        const CBookBackups::Difference difference = backups.Compare(backup.name);
        return {difference.Summary(), difference.InWords()};
    } catch (const StoreError &) {
        return {QStringLiteral("nicht vergleichbar"), QStringLiteral("nicht vergleichbar")};
    }
}

} // namespace

CRestoreDialog::CRestoreDialog(const CBookBackups &backups, QWidget *parent)
    : QDialog(parent), m_list(new QTreeWidget(this)), m_restore(nullptr)
{
    setWindowTitle(QStringLiteral("Sicherung wiederherstellen"));
    MarkForScreenReaders(this);
    m_list->setObjectName(QStringLiteral("backups"));
    m_list->setAccessibleName(QStringLiteral("Sicherungen"));
    m_list->setAccessibleDescription(
        QStringLiteral("Tasten: Auf, Ab: durch die Sicherungen; Eingabe oder Doppelklick: wiederherstellen; Esc: Abbrechen"));
    m_list->setRootIsDecorated(false);
    m_list->setHeaderLabels({QStringLiteral("Gesichert am"), QStringLiteral("Einträge"),
                             QStringLiteral("Wiederherstellen ändert")});
    m_list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);

    std::vector<CBookBackups::Backup> listed = backups.List();
    std::reverse(listed.begin(), listed.end());
    for (const CBookBackups::Backup &backup : listed) {
        auto *line = new QTreeWidgetItem(m_list);
        line->setText(Made, backup.made.toLocalTime().toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")));
        line->setText(Entries, backup.complete() ? QString::number(backup.entries) : QStringLiteral("–"));
        line->setTextAlignment(Entries, Qt::AlignRight | Qt::AlignVCenter);
        const Told difference = differenceOf(backups, backup);
        line->setText(Difference, difference.shown);
        line->setData(Difference, Qt::AccessibleTextRole, difference.inWords);
        line->setData(Made, Qt::UserRole, backup.name);
        line->setToolTip(Made, backup.name);
        if (!backup.complete())
            line->setFlags(Qt::NoItemFlags);
    }

    auto *buttons = new QDialogButtonBox(this);
    m_restore = buttons->addButton(QStringLiteral("&Wiederherstellen"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("&Abbrechen"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_list, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem *line) {
        if (line->flags() & Qt::ItemIsEnabled)
            accept();
    });
    connect(m_list, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem *line) { m_restore->setEnabled(line && line->flags() & Qt::ItemIsEnabled); });

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_list);
    layout->addWidget(buttons);
    resize(560, 320);
    new RememberedSize(this, QStringLiteral("Sicherung wiederherstellen"));

    // The newest backup that can be restored starts chosen.
    m_restore->setEnabled(false);
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        if (m_list->topLevelItem(i)->flags() & Qt::ItemIsEnabled) {
            m_list->setCurrentItem(m_list->topLevelItem(i));
            break;
        }
    }
    m_list->setFocus();
}

QString CRestoreDialog::ChosenBackup() const
{
    const QTreeWidgetItem *line = m_list->currentItem();
    return line && line->flags() & Qt::ItemIsEnabled ? line->data(Made, Qt::UserRole).toString() : QString();
}

QString CRestoreDialog::ChosenDescription() const
{
    const QTreeWidgetItem *line = m_list->currentItem();
    return line ? QStringLiteral("Sicherung vom %1 mit %2 Einträgen; es ändert sich: %3.")
                      .arg(line->text(Made), line->text(Entries), line->data(Difference, Qt::AccessibleTextRole).toString())
                : QString();
}
