#include "busywait.h"

#include <QApplication>
#include <QEventLoop>
#include <QPointer>
#include <QScopeGuard>
#include <QWidget>

#include <thread>

void WaitWhileBusy(QWidget *window, const std::function<void()> &work, const std::function<void()> &stop)
{
    QEventLoop waiting;
    const QPointer<QWidget> watched(window);
    // The loop is told from the work's thread; a queued call reaches it in
    // its own thread.
    std::thread worker([&] {
        work();
        QMetaObject::invokeMethod(&waiting, &QEventLoop::quit, Qt::QueuedConnection);
    });
    const auto joined = qScopeGuard([&worker] { worker.join(); });
    if (stop)
        QObject::connect(window, &QObject::destroyed, &waiting, stop);
    QApplication::setOverrideCursor(Qt::BusyCursor);
    const auto cursor = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
    // Input goes nowhere meanwhile; painting and timers go on.
    waiting.exec(QEventLoop::ExcludeUserInputEvents);
    if (!watched && stop)
        stop();
}
