#pragma once

// Reading and driving the server book's two dialogs from tests, as a user
// sees and works them.

#include "modalhelper.h"
#include "moduletest.h"

#include <QComboBox>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>

namespace Ids {
enum { List = 3000, Delete = 3001, New = 3002, Server = 3003, StartDir = 3004, PluginFile = 3005 };
enum { Label = 3004, Worker = 1013, Address = 3003, StartPath = 1001 };
}

inline QStringList listLines(QWidget *dialog)
{
    auto *list = child<QListView>(dialog, Ids::List);
    QStringList lines;
    for (int i = 0; i < list->model()->rowCount(); ++i)
        lines << list->model()->index(i, 0).data().toString();
    return lines;
}

inline QString selectedLine(QWidget *dialog)
{
    const auto selected = child<QListView>(dialog, Ids::List)->selectionModel()->selectedRows();
    return selected.isEmpty() ? QString() : selected.first().data().toString();
}

inline QStringList details(QWidget *dialog)
{
    return {child<QLineEdit>(dialog, Ids::Server)->text(), child<QLineEdit>(dialog, Ids::StartDir)->text(),
            child<QLineEdit>(dialog, Ids::PluginFile)->text()};
}

inline QStringList texts(const SERVERBOOKENTRYSTRUC &entry)
{
    return {entry.strServer, entry.strStartDir, entry.strPluginFile};
}

inline void clickLine(QWidget *dialog, int line, Qt::MouseButton button = Qt::LeftButton)
{
    auto *list = child<QListView>(dialog, Ids::List);
    const QRect rect = list->visualRect(list->model()->index(line, 0));
    QTest::mouseClick(list->viewport(), button, {}, rect.center());
}

// A right click on a line: the press selects it, and the context menu event
// follows as the window system sends it.
inline void rightClickLine(QWidget *dialog, int line)
{
    auto *list = child<QListView>(dialog, Ids::List);
    const QPoint at = list->visualRect(list->model()->index(line, 0)).center();
    QTest::mouseClick(list->viewport(), Qt::RightButton, {}, at);
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, list->viewport()->mapToGlobal(at));
    QApplication::sendEvent(list->viewport(), &event);
}

inline void click(QWidget *dialog, int id)
{
    QTest::mouseClick(child<QPushButton>(dialog, id), Qt::LeftButton);
}

inline QLineEdit *field(QWidget *dialog, int id)
{
    return child<QLineEdit>(dialog, id);
}

// Chooses a worker as the user does; choosing the chosen one again counts too.
inline void chooseWorker(QWidget *dialog, const QString &name)
{
    auto *combo = child<QComboBox>(dialog, Ids::Worker);
    const int line = combo->findText(name);
    QVERIFY2(line >= 0, qPrintable(name));
    combo->setCurrentIndex(line);
    emit combo->activated(line);
}

// Replaces a field's text by typing, key by key.
inline void retype(QWidget *dialog, int id, const QString &text)
{
    QLineEdit *edit = field(dialog, id);
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    typeText(edit, text);
}

// The rows of the store as label|server|startdir|pluginfile, in rowid order.
inline QStringList storedRows(const ModuleFixture &module)
{
    return OutsideConnection(module.storeFile())
        .column("SELECT Bezeichnung || '|' || ifnull(Servername, '') || '|' || ifnull(Startverzeichnis, '') "
                "|| '|' || ifnull(Plugindateiname, '') FROM Serverbook ORDER BY rowid");
}

// Clicks "Löschen", answers Yes, and keeps the text of the message box that
// follows (a failure the dialog reports) in *shown, confirming it.
inline void deleteExpectingMessage(QWidget *book, QString *shown)
{
    whenModal([shown](QWidget *question) {
        whenModal([shown](QWidget *box) {
            *shown = messageText(box);
            QTest::keyClick(box, Qt::Key_Return);
        }, question);
        answer(question, QMessageBox::Yes);
    }, book);
    click(book, Ids::Delete);
}

// Opens the list's context menu with the Menu key.
inline void openContextMenuByKey(QWidget *dialog)
{
    auto *list = child<QListView>(dialog, Ids::List);
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Menu);
}

// The texts of a menu's actions, "-" for a separator and "(aus)" after a
// disabled one.
inline QStringList menuEntries(QWidget *popup)
{
    QStringList entries;
    for (QAction *action : qobject_cast<QMenu *>(popup)->actions())
        entries << (action->isSeparator() ? QStringLiteral("-")
                                          : action->text() + (action->isEnabled() ? "" : " (aus)"));
    return entries;
}

// Chooses the action with text in an open menu, by keyboard as a user may.
inline void chooseMenuEntry(QWidget *popup, const QString &text)
{
    auto *menu = qobject_cast<QMenu *>(popup);
    for (QAction *action : menu->actions()) {
        if (action->text() == text) {
            menu->setActiveAction(action);
            QTest::keyClick(menu, Qt::Key_Return);
            return;
        }
    }
    QFAIL(qPrintable("no menu entry " + text));
}
