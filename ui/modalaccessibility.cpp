#include "modalaccessibility.h"

#include <QAccessibleWidget>
#include <QWidget>

namespace {

const char *const kMark = "kelvoDialog";

class ModalDialogInterface : public QAccessibleWidget
{
public:
    explicit ModalDialogInterface(QWidget *dialog) : QAccessibleWidget(dialog, QAccessible::Dialog) {}

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.modal = widget()->isModal();
        return state;
    }
};

QAccessibleInterface *interfaceFor(const QString &, QObject *object)
{
    auto *widget = qobject_cast<QWidget *>(object);
    return widget && widget->isWindow() && widget->property(kMark).toBool() ? new ModalDialogInterface(widget) : nullptr;
}

} // namespace

void MarkForScreenReaders(QWidget *dialog)
{
    dialog->setProperty(kMark, true);
}

ModalAccessibility::ModalAccessibility()
{
    QAccessible::installFactory(interfaceFor);
}

ModalAccessibility::~ModalAccessibility()
{
    QAccessible::removeFactory(interfaceFor);
}
