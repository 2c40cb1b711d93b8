#pragma once

#include <QObject>
#include <QSize>
#include <QString>

class QWidget;

// A dialog's size as the user left it, per user in the user's own settings
// (~/.config/ostrel/kelvo.conf), never in the book: the dialog opens at it
// the next time; until the user resizes it, it opens at its own size.
class RememberedSize : public QObject
{
public:
    RememberedSize(QWidget *dialog, const QString &name);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *m_dialog;
    QString m_key;
    QSize m_shownAt;
};
