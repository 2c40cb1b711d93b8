#include "listaction.h"

#include <QMenu>

#include <utility>

std::vector<std::pair<QString, QString>> KeyTable(const std::vector<ListAction> &actions)
{
    std::vector<std::pair<QString, QString>> keys{{QStringLiteral("Eingabe"), QStringLiteral("OK")},
                                                  {QStringLiteral("Esc"), QStringLiteral("Abbrechen")}};
    for (const ListAction &action : actions) {
        if (!action.key.isEmpty())
            keys.emplace_back(action.key.toString(QKeySequence::NativeText),
                              action.text.isEmpty() ? action.keyName : action.text);
    }
    keys.emplace_back(QStringLiteral("Umschalt+F10, Menütaste"), QStringLiteral("diese Befehle als Menü"));
    return keys;
}

void RunFromMenu(const std::vector<ListAction> &actions, QWidget *parent, QPoint at, bool hasEntry, bool hasBook)
{
    QMenu menu(parent);
    std::vector<std::pair<QAction *, const ListAction *>> shown;
    for (const ListAction &action : actions) {
        if (action.text.isEmpty())
            continue;
        QAction *item = menu.addAction(action.text);
        item->setShortcut(action.key);
        item->setEnabled(action.needs == ListAction::Needs::Entry ? hasEntry : hasBook);
        shown.emplace_back(item, &action);
        if (action.groupEnds)
            menu.addSeparator();
    }
    QAction *chosen = menu.exec(at);
    for (const auto &[item, action] : shown) {
        if (item == chosen)
            action->run();
    }
}
