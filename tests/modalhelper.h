#pragma once

// Drives modal dialogs from a test: schedule an action before calling the
// code that runs the modal loop; it runs once the dialog is on top.

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <QtTest>

#include <functional>
#include <utility>

// The actions scheduled and not yet run, so that none carries over into the
// next test and answers its dialogs.
inline QList<QPointer<QTimer>> &pendingModalActions()
{
    static QList<QPointer<QTimer>> pending;
    return pending;
}

// Drops every action still waiting; for a test that scheduled one to catch a
// dialog that must not appear.
inline void discardModalActions()
{
    for (const QPointer<QTimer> &timer : std::exchange(pendingModalActions(), {}))
        delete timer.data();
}

// For cleanup(): fails the test when an action it scheduled never ran (its
// dialog never appeared), and drops it.
inline void verifyModalActionsRan()
{
    const qsizetype pending = pendingModalActions().size();
    discardModalActions();
    QVERIFY2(pending == 0, qPrintable(QStringLiteral("%1 scheduled modal action(s) never ran").arg(pending)));
}

// Runs act once find returns a visible widget. When act leaves the test
// failed, every modal widget is closed so that the test ends instead of
// hanging.
inline void whenFound(std::function<QWidget *()> find, std::function<void(QWidget *)> act)
{
    auto *timer = new QTimer(qApp);
    timer->setInterval(5);
    pendingModalActions().append(timer);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, find, act] {
        QWidget *found = find();
        if (!found || !found->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        pendingModalActions().removeAll(timer);
        act(found);
        if (QTest::currentTestFailed()) {
            if (QWidget *popup = QApplication::activePopupWidget())
                popup->close();
            while (QWidget *modal = QApplication::activeModalWidget())
                modal->close();
        }
    });
    timer->start();
}

// Runs act on the first visible modal widget on top that accept takes.
inline void whenModalIs(std::function<bool(QWidget *)> accept, std::function<void(QWidget *)> act)
{
    whenFound([accept]() -> QWidget * {
        QWidget *top = QApplication::activeModalWidget();
        return top && accept(top) ? top : nullptr;
    }, std::move(act));
}

// Runs act on the next popup, such as a context menu.
inline void whenPopup(std::function<void(QWidget *)> act)
{
    whenFound([] { return QApplication::activePopupWidget(); }, std::move(act));
}

// Runs act on the next modal widget on top other than below (the dialog a
// message box or a nested dialog is expected over).
inline void whenModal(std::function<void(QWidget *)> act, QWidget *below = nullptr)
{
    whenModalIs([below](QWidget *top) { return top != below; }, std::move(act));
}

// Runs act once dialog is on top again, after what was opened over it closed.
inline void whenBackOnTop(QWidget *dialog, std::function<void(QWidget *)> act)
{
    whenModalIs([dialog](QWidget *top) { return top == dialog; }, std::move(act));
}

// The message box on top; null, with the test failed (so that every modal
// widget is closed), when another widget is there instead.
inline QMessageBox *messageBoxIn(QWidget *top)
{
    auto *box = qobject_cast<QMessageBox *>(top);
    if (!box)
        QTest::qFail(qPrintable(QStringLiteral("a message box was expected, not %1").arg(top->metaObject()->className())),
                     __FILE__, __LINE__);
    return box;
}

// The text of the message box on top; empty when there is none.
inline QString messageText(QWidget *top)
{
    const QMessageBox *box = messageBoxIn(top);
    return box ? box->text() : QString();
}

// Clicks a button of the message box on top.
inline void answer(QWidget *top, QMessageBox::StandardButton button)
{
    if (QMessageBox *box = messageBoxIn(top))
        QTest::mouseClick(box->button(button), Qt::LeftButton);
}

template<typename T = QWidget>
T *child(QWidget *dialog, int id)
{
    return dialog->findChild<T *>(QString::number(id), Qt::FindDirectChildrenOnly);
}

// Types text key by key, as a user would, umlauts included.
inline void typeText(QWidget *widget, const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() < 0x80)
            QTest::keyClick(widget, char(c.unicode()));
        else
            QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}

// For cleanup(): every scheduled action ran, and no dialog, message box or
// other window outlives its test.
inline void verifyNothingLeftOpen()
{
    verifyModalActionsRan();
    QTRY_VERIFY2(QApplication::topLevelWidgets().isEmpty(),
                 qPrintable(QStringLiteral("%1 top-level widget(s) left").arg(QApplication::topLevelWidgets().size())));
}
