#include "ccombobox.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>

namespace {

// On Linux, Qt names a drop-down list after its current line and leaves
// the label to the labelled-by relation, so a screen reader that reads names
// announces "Datei-Publishing-Worker" where the user needs to hear what to
// choose. This interface names the list by its accessible name (the label
// before it), reports the current line as its value, and offers the open
// list as its one child with the action to open it, as Qt's own does.
class ComboBoxAccessible : public QAccessibleWidget
{
public:
    explicit ComboBoxAccessible(QComboBox *combo) : QAccessibleWidget(combo, QAccessible::ComboBox) {}

    QString text(QAccessible::Text kind) const override
    {
        return kind == QAccessible::Value ? combo()->currentText() : QAccessibleWidget::text(kind);
    }
    int childCount() const override { return 1; }
    QAccessibleInterface *child(int index) const override
    {
        return index == 0 ? QAccessible::queryAccessibleInterface(combo()->view()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        return child && child->object() == combo()->view() ? 0 : -1;
    }
    QStringList actionNames() const override { return QStringList{showMenuAction()} + QAccessibleWidget::actionNames(); }
    void doAction(const QString &action) override
    {
        if (action == showMenuAction())
            combo()->showPopup();
        else
            QAccessibleWidget::doAction(action);
    }

private:
    QComboBox *combo() const { return static_cast<QComboBox *>(widget()); }
};

QAccessibleInterface *accessibleComboBox(const QString &className, QObject *object)
{
    if (className == QLatin1String("CComboBox") && object)
        return new ComboBoxAccessible(static_cast<CComboBox *>(object));
    return nullptr;
}

} // namespace

CComboBox::CComboBox(QWidget *parent)
    : QComboBox(parent), SortedLinesControl(new SortedLinesModel(this))
{
    // Once per process; the module is never unloaded, so the factory
    // outlives every combo box.
    static const bool accessibleInstalled = (QAccessible::installFactory(accessibleComboBox), true);
    Q_UNUSED(accessibleInstalled);
    setModel(m_lines);
    setEditable(false);
    connect(this, &QComboBox::activated, this, &CComboBox::selectionChangedByUser);
}

int CComboBox::AddString(const QString &text)
{
    // QComboBox selects the first line added to an empty list; a drop-down
    // list here stays without selection until one is chosen.
    const bool hadSelection = currentIndex() >= 0;
    const int position = SortedLinesControl::AddString(text);
    if (!hadSelection)
        setCurrentIndex(-1);
    return position;
}
