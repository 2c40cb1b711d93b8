#include "rememberedsize.h"

#include <QEvent>
#include <QSettings>
#include <QWidget>

namespace {

QSettings userSettings()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("ostrel"), QStringLiteral("kelvo"));
}

} // namespace

RememberedSize::RememberedSize(QWidget *dialog, const QString &name)
    : QObject(dialog), m_dialog(dialog), m_key(QStringLiteral("Fenstergroessen/") + name)
{
    dialog->installEventFilter(this);
}

bool RememberedSize::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_dialog)
        return false;
    if (event->type() == QEvent::Show) {
        const QSize kept = userSettings().value(m_key).toSize();
        if (kept.isValid())
            m_dialog->resize(kept.expandedTo(m_dialog->minimumSize()));
        m_shownAt = m_dialog->size();
    } else if (event->type() == QEvent::Hide && m_dialog->size() != m_shownAt) {
        userSettings().setValue(m_key, m_dialog->size());
    }
    return false;
}
