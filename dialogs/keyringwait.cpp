#include "keyringwait.h"

#include <QApplication>
#include <QEventLoop>
#include <QPointer>
#include <QScopeGuard>
#include <QWidget>

#include <thread>

KeyringAnswer WaitForKeyring(QWidget *window, const std::function<KeyringAnswer(const KeyringCancel *)> &call)
{
    KeyringCancel cancel;
    KeyringAnswer answer;
    QEventLoop waiting;
    const QPointer<QWidget> watched(window);
    // The loop is told from the call's thread; a queued call reaches it in
    // its own thread.
    std::thread worker([&] {
        answer = call(&cancel);
        QMetaObject::invokeMethod(&waiting, &QEventLoop::quit, Qt::QueuedConnection);
    });
    const auto joined = qScopeGuard([&worker] { worker.join(); });
    QObject::connect(window, &QObject::destroyed, &waiting, [&cancel] { cancel.Cancel(); });
    QApplication::setOverrideCursor(Qt::BusyCursor);
    const auto cursor = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
    // Input goes nowhere meanwhile; painting and timers go on.
    waiting.exec(QEventLoop::ExcludeUserInputEvents);
    if (!watched)
        cancel.Cancel();
    return answer;
}
