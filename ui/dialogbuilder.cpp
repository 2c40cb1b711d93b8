#include "dialogbuilder.h"

#include "ccombobox.h"
#include "clistbox.h"

#include <QApplication>
#include <QDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtMath>

namespace {

// Dialog units are fractions of the dialog font's average character: a
// quarter of its width horizontally (the average rounded up to whole
// pixels, as Windows rounds it), an eighth of a whole line vertically, so
// that a line of text fits the height the template gives it.
class DialogUnits
{
public:
    explicit DialogUnits(const QFont &font)
    {
        const QFontMetricsF metrics(font);
        const int alphabet = qCeil(
            metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")));
        m_charWidth = (alphabet / 26 + 1) / 2;
        m_charHeight = qCeil(metrics.lineSpacing());
    }
    int x(int units) const { return qRound(units * m_charWidth / 4); }
    int y(int units) const { return qRound(units * m_charHeight / 8); }
    QRect rect(const ControlTemplate &c) const
    {
        return QRect(x(c.x), y(c.y), x(c.width), y(c.height));
    }

private:
    qreal m_charWidth;
    qreal m_charHeight;
};

QWidget *createControl(const ControlTemplate &c, QWidget *parent)
{
    const QString text = QString::fromUtf8(c.text);
    switch (c.kind) {
    case ControlKind::Static: {
        auto *label = new QLabel(text, parent);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setWordWrap(true);
        return label;
    }
    case ControlKind::GroupBox:
        return new QGroupBox(text, parent);
    case ControlKind::PushButton: {
        auto *button = new QPushButton(text, parent);
        button->setDefault(c.style & ControlStyle::DefaultButton);
        return button;
    }
    case ControlKind::Edit: {
        auto *edit = new QLineEdit(text, parent);
        edit->setReadOnly(c.style & ControlStyle::ReadOnly);
        if (c.style & ControlStyle::Centered)
            edit->setAlignment(Qt::AlignCenter);
        edit->setFrame(c.style & ControlStyle::Border);
        return edit;
    }
    case ControlKind::ListBox: {
        auto *list = new CListBox(parent);
        list->setFrameShape(c.style & ControlStyle::Border ? QFrame::StyledPanel : QFrame::NoFrame);
        list->setVerticalScrollBarPolicy(c.style & ControlStyle::VScroll ? Qt::ScrollBarAsNeeded
                                                                         : Qt::ScrollBarAlwaysOff);
        list->setHorizontalScrollBarPolicy(c.style & ControlStyle::HScroll ? Qt::ScrollBarAsNeeded
                                                                           : Qt::ScrollBarAlwaysOff);
        return list;
    }
    case ControlKind::ComboBox:
        return new CComboBox(parent);
    }
    return nullptr;
}

// Gives text an access key (Alt with the letter, underlined only while Alt
// is held): its first letter no other control of the dialog has taken.
// The text itself stays as the template has it.
QString withAccessKey(const QString &text, QString *taken)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar letter = text[i].toLower();
        if (letter.isLetter() && !taken->contains(letter)) {
            taken->append(letter);
            return text.left(i) + QLatin1Char('&') + text.mid(i);
        }
    }
    return text;
}

// A label drawn for a narrower font takes the room up to the next control
// on its right, as far as its words need: "Server:" before a field that
// starts well to its right is never cut.
void widenLabels(QDialog *dialog)
{
    const QList<QWidget *> controls = dialog->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    for (QWidget *control : controls) {
        auto *label = qobject_cast<QLabel *>(control);
        if (!label)
            continue;
        const QFontMetrics metrics(label->font());
        int needed = 0;
        for (const QString &word : QString(label->text()).remove(QLatin1Char('&')).split(QLatin1Char(' ')))
            needed = std::max(needed, metrics.horizontalAdvance(word));
        QRect placed = label->geometry();
        if (needed <= placed.width())
            continue;
        int limit = dialog->width();
        for (const QWidget *other : controls) {
            const QRect beside = other->geometry();
            if (other != label && !qobject_cast<const QGroupBox *>(other) && beside.left() >= placed.right()
                && beside.top() < placed.bottom() && beside.bottom() > placed.top())
                limit = std::min(limit, beside.left() - 1);
        }
        placed.setWidth(std::min(needed, limit - placed.left()));
        label->setGeometry(placed);
    }
}

// Access keys for the buttons and for the labels that name a field, in the
// template's order.
void giveAccessKeys(const DialogTemplate &t, const QHash<const ControlTemplate *, QWidget *> &made)
{
    QString taken;
    for (const ControlTemplate &c : t.controls) {
        QWidget *widget = made.value(&c);
        if (auto *button = qobject_cast<QPushButton *>(widget))
            button->setText(withAccessKey(button->text(), &taken));
        else if (auto *label = qobject_cast<QLabel *>(widget); label && label->buddy())
            label->setText(withAccessKey(label->text(), &taken));
    }
}

} // namespace

QHash<int, QWidget *> BuildDialogFromTemplate(QDialog *dialog, const DialogTemplate &t)
{
    // The desktop's dialog font, as the platform theme gives it to Qt, in
    // place of the template's: dialog units follow it, so the template keeps
    // its proportions and grows with the font the user chose.
    const DialogUnits units(QApplication::font(dialog));

    dialog->setWindowTitle(QString::fromUtf8(t.caption));
    dialog->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                           | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    dialog->setFixedSize(units.x(t.width), units.y(t.height));

    QHash<int, QWidget *> controls;
    QHash<const ControlTemplate *, QWidget *> made;
    QWidget *previousTabStop = nullptr;
    // As a Windows dialog tells a screen reader, a field is named by the
    // static text or group box just before it in the template; a static
    // text is also its field's buddy, which a screen reader hears as the
    // field's "labelled by" relation.
    QString pendingName;
    QLabel *pendingLabel = nullptr;
    for (const ControlTemplate &c : t.controls) {
        QWidget *widget = createControl(c, dialog);
        made.insert(&c, widget);
        if (c.kind == ControlKind::Static || c.kind == ControlKind::GroupBox) {
            pendingName = QString::fromUtf8(c.text);
            pendingLabel = qobject_cast<QLabel *>(widget);
        } else {
            if (c.kind != ControlKind::PushButton && !pendingName.isEmpty()) {
                widget->setAccessibleName(pendingName);
                if (pendingLabel)
                    pendingLabel->setBuddy(widget);
            }
            pendingName.clear();
            pendingLabel = nullptr;
        }
        QRect geometry = units.rect(c);
        // A drop-down list's height in the template includes its open list.
        if (c.kind == ControlKind::ComboBox)
            geometry.setHeight(widget->sizeHint().height());
        widget->setGeometry(geometry);
        if (c.style & ControlStyle::TabStop) {
            widget->setFocusPolicy(Qt::StrongFocus);
            if (previousTabStop)
                QWidget::setTabOrder(previousTabStop, widget);
            previousTabStop = widget;
        } else {
            widget->setFocusPolicy(Qt::NoFocus);
        }
        if (c.id != kNoControlId) {
            widget->setObjectName(QString::number(c.id));
            controls.insert(c.id, widget);
        }
    }
    giveAccessKeys(t, made);
    widenLabels(dialog);
    return controls;
}
