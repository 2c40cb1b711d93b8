#pragma once

#include "sitecheck.h"

#include <QDialog>

#include <atomic>
#include <thread>

class QLabel;
class QPushButton;
class QTreeWidget;

// "Verbindung prüfen": runs the check of one entry on a thread of its own
// and shows each step as it ends, with its outcome, its time and what was
// found. The window stays responsive; "Abbrechen" stops the check within a
// tenth of a second, and closing the window stops it too. When the check
// met an SSH host key it does not know, the user may trust it and check
// again; a write test runs only when asked for.
class CCheckDialog : public QDialog
{
public:
    CCheckDialog(const QString &label, const CheckRequest &request, QWidget *parent);
    ~CCheckDialog() override;

    // The last finished check's result.
    const CheckResult &Result() const { return m_result; }

protected:
    void done(int result) override;

private:
    void start();
    void stop();
    void stepSeen(const CheckStep &step);
    void finished(const CheckResult &result);

    CheckRequest m_request;
    QTreeWidget *m_steps;
    QLabel *m_summary;
    QPushButton *m_cancel;
    QPushButton *m_writeTest;
    QPushButton *m_trust;
    std::atomic<bool> m_cancelled = false;
    std::thread m_checker;
    CheckResult m_result;
};
