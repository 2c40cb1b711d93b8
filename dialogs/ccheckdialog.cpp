#include "ccheckdialog.h"

#include "modalaccessibility.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

enum Column { Step, Outcome, Time, Detail };

QString outcomeText(CheckStep::Outcome outcome)
{
    switch (outcome) {
    case CheckStep::Outcome::Passed:
        return QStringLiteral("✓ in Ordnung");
    case CheckStep::Outcome::Failed:
        return QStringLiteral("✗ Fehler");
    case CheckStep::Outcome::Skipped:
        return QStringLiteral("– übersprungen");
    }
    return {};
}

} // namespace

CCheckDialog::CCheckDialog(const QString &label, const CheckRequest &request, QWidget *parent)
    : QDialog(parent), m_request(request), m_steps(new QTreeWidget(this)), m_summary(new QLabel(this))
{
    setWindowTitle(QStringLiteral("Verbindung prüfen: %1").arg(label));
    MarkForScreenReaders(this);
    m_steps->setObjectName(QStringLiteral("steps"));
    m_steps->setAccessibleName(QStringLiteral("Schritte der Prüfung"));
    m_steps->setRootIsDecorated(false);
    m_steps->setHeaderLabels({QStringLiteral("Schritt"), QStringLiteral("Ergebnis"), QStringLiteral("Zeit"),
                              QStringLiteral("Einzelheiten")});
    m_steps->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_steps->setMinimumSize(640, 220);
    m_summary->setObjectName(QStringLiteral("summary"));
    m_summary->setTextFormat(Qt::PlainText);
    m_summary->setWordWrap(true);
    m_summary->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto *buttons = new QDialogButtonBox(this);
    m_trust = buttons->addButton(QStringLiteral("&Hostschlüssel vertrauen"), QDialogButtonBox::ActionRole);
    m_writeTest = buttons->addButton(QStringLiteral("Mit Schreib&test prüfen"), QDialogButtonBox::ActionRole);
    m_cancel = buttons->addButton(QStringLiteral("&Abbrechen"), QDialogButtonBox::RejectRole);
    QPushButton *close = buttons->addButton(QStringLiteral("&Schließen"), QDialogButtonBox::AcceptRole);
    m_trust->hide();
    connect(m_cancel, &QPushButton::clicked, this, [this] { m_cancelled = true; });
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_writeTest, &QPushButton::clicked, this, [this] {
        m_request.writeTest = true;
        start();
    });
    connect(m_trust, &QPushButton::clicked, this, [this] {
        m_request.trustNewHostKey = true;
        start();
    });

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_steps);
    layout->addWidget(m_summary);
    layout->addWidget(buttons);
    start();
}

CCheckDialog::~CCheckDialog()
{
    stop();
}

void CCheckDialog::done(int result)
{
    stop();
    QDialog::done(result);
}

void CCheckDialog::stop()
{
    m_cancelled = true;
    if (m_checker.joinable())
        m_checker.join();
}

void CCheckDialog::start()
{
    stop();
    m_cancelled = false;
    m_steps->clear();
    m_summary->setText(QStringLiteral("Wird geprüft …"));
    m_cancel->setEnabled(true);
    m_writeTest->setEnabled(false);
    m_trust->hide();
    // The steps come back to this thread queued; a dialog that went
    // meanwhile takes none.
    m_checker = std::thread([this, request = m_request] {
        const CheckResult result = RunSiteCheck(request, [this](const CheckStep &step) {
            QMetaObject::invokeMethod(this, [this, step] { stepSeen(step); }, Qt::QueuedConnection);
        }, &m_cancelled);
        QMetaObject::invokeMethod(this, [this, result] { finished(result); }, Qt::QueuedConnection);
    });
}

void CCheckDialog::stepSeen(const CheckStep &step)
{
    auto *line = new QTreeWidgetItem(m_steps);
    line->setText(Step, StepName(step.kind));
    line->setText(Outcome, outcomeText(step.outcome));
    line->setText(Time, QStringLiteral("%1 ms").arg(step.ms));
    line->setText(Detail, step.detail);
    line->setToolTip(Detail, step.detail);
}

void CCheckDialog::finished(const CheckResult &result)
{
    m_result = result;
    m_cancel->setEnabled(false);
    m_writeTest->setEnabled(!m_request.writeTest);
    m_trust->setVisible(result.hostKeyUnknown);
    QString summary = QStringLiteral("Alle Schritte in Ordnung.");
    for (const CheckStep &step : result.steps) {
        if (step.outcome == CheckStep::Outcome::Failed) {
            summary = step.detail;
            break;
        }
    }
    m_summary->setText(summary);
}
