#pragma once

// Drives modal dialogs from a test: schedule an action before calling the
// code that runs the modal loop; it runs once the dialog is on top.

#include <QApplication>
#include <QKeyEvent>
#include <QTimer>
#include <QWidget>
#include <QtTest>

#include <functional>

// Runs act on the first visible modal widget on top that accept takes. When
// act leaves the test failed, every modal widget is closed so that the test
// ends instead of hanging.
inline void whenModalIs(std::function<bool(QWidget *)> accept, std::function<void(QWidget *)> act)
{
    auto *timer = new QTimer(qApp);
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, accept, act] {
        QWidget *top = QApplication::activeModalWidget();
        if (!top || !top->isVisible() || !accept(top))
            return;
        timer->stop();
        timer->deleteLater();
        act(top);
        if (QTest::currentTestFailed()) {
            while (QWidget *modal = QApplication::activeModalWidget())
                modal->close();
        }
    });
    timer->start();
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
