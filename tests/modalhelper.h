#pragma once

// Drives modal dialogs from a test: schedule an action before calling the
// code that runs the modal loop; it runs once the dialog is on top.

#include <QApplication>
#include <QKeyEvent>
#include <QTimer>
#include <QWidget>
#include <QtTest>

#include <functional>

// Runs act on the next visible modal widget on top other than below (the
// dialog a message box is expected over). When act leaves the test failed,
// every modal widget is closed so that the test ends instead of hanging.
inline void whenModal(std::function<void(QWidget *)> act, QWidget *below = nullptr)
{
    auto *timer = new QTimer(qApp);
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, act, below] {
        QWidget *top = QApplication::activeModalWidget();
        if (!top || top == below || !top->isVisible())
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

template<typename T = QWidget>
T *child(QWidget *dialog, int id)
{
    return dialog->findChild<T *>(QString::number(id), Qt::FindDirectChildrenOnly);
}

inline void pressKey(QWidget *widget, Qt::Key key)
{
    QTest::keyClick(widget, key);
}
