#pragma once

#include <QKeySequence>
#include <QPoint>
#include <QString>

#include <functional>
#include <utility>
#include <vector>

class QWidget;

// A command of the selection list: its text in the context menu (none: a
// key only), its key in the list (none: the menu only), what it does, and
// whether it needs a selected entry or only the book.
struct ListAction {
    enum class Needs { Book, Entry };
    QString text;
    QKeySequence key;
    std::function<void()> run;
    Needs needs = Needs::Book;
    // A line in the menu after it, between groups of commands.
    bool groupEnds = false;
    // What the key table calls a command that has no menu text.
    QString keyName = {};
};

// The keys of a list with these actions, each with what it does: Enter and
// Escape for the dialog's buttons, each action's key, and the menu keys.
std::vector<std::pair<QString, QString>> KeyTable(const std::vector<ListAction> &actions);

// Shows the actions that have a text as a context menu at a point, each
// enabled when what it needs is there, and runs the one chosen.
void RunFromMenu(const std::vector<ListAction> &actions, QWidget *parent, QPoint at, bool hasEntry, bool hasBook);
