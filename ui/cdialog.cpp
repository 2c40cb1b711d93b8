#include "cdialog.h"

#include "ccombobox.h"
#include "clistbox.h"
#include "dialogbuilder.h"
#include "messagebox.h"
#include "modalaccessibility.h"
#include "rememberedsize.h"
#include "templateregistry.h"

#include <QAbstractButton>
#include <QApplication>
#include <QBackingStore>
#include <QPainter>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QScopeGuard>
#include <QValidator>

#include <new>

namespace {

// Limits what the user puts into an edit field to a number of characters, as
// a limited Windows edit field does: typing stops there, and a paste or drop
// is cut to what still fits. Text set from code (which clears the field's
// modified flag) is not limited here; UpdateData checks it on OK.
class InputLimiter : public QValidator
{
public:
    InputLimiter(int maxChars, QLineEdit *edit)
        : QValidator(edit), m_maxChars(maxChars), m_edit(edit), m_before(edit->text())
    {
        connect(edit, &QLineEdit::textChanged, this, [this](const QString &text) { m_before = text; });
    }

    State validate(QString &input, int &pos) const override
    {
        // Deleting from a text that was set too long from code stays possible.
        if (input.size() <= m_maxChars || !m_edit->isModified() || input.size() <= m_before.size())
            return Acceptable;
        // The user's change put a run between an unchanged head and tail.
        qsizetype head = 0;
        while (head < m_before.size() && input[head] == m_before[head])
            ++head;
        qsizetype tail = 0;
        while (tail < m_before.size() - head && input[input.size() - 1 - tail] == m_before[m_before.size() - 1 - tail])
            ++tail;
        const qsizetype room = m_maxChars - (head + tail);
        if (room <= 0)
            return Invalid;
        input = input.left(head) + input.mid(head, room) + input.right(tail);
        pos = int(head + room);
        return Acceptable;
    }

private:
    int m_maxChars;
    QLineEdit *m_edit;
    // The text before the change being validated.
    QString m_before;
};

} // namespace

CDialog::CDialog(int templateId) : QDialog(nullptr), m_templateId(templateId)
{
    MarkForScreenReaders(this);
}

CDialog::~CDialog() = default;

bool CDialog::CanCreate()
{
    return qobject_cast<QApplication *>(QCoreApplication::instance()) != nullptr;
}

void CDialog::SetResizable(int stretchId)
{
    if (!Create())
        return;
    const QWidget *stretch = GetDlgItem(stretchId);
    if (!stretch)
        return;
    m_templateSize = size();
    m_stretch = stretch->geometry();
    for (QWidget *control : findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        m_templateGeometry.insert(control, control->geometry());
    setMinimumSize(m_templateSize);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    new RememberedSize(this, windowTitle());
}

void CDialog::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    if (m_templateGeometry.isEmpty())
        return;
    const int dx = width() - m_templateSize.width();
    const int dy = height() - m_templateSize.height();
    for (auto control = m_templateGeometry.cbegin(); control != m_templateGeometry.cend(); ++control) {
        QRect placed = control.value();
        if (placed.contains(m_stretch)) {
            placed.adjust(0, 0, dx, dy);
        } else {
            if (placed.width() * 2 >= m_templateSize.width())
                placed.setWidth(placed.width() + dx);
            else if (placed.center().x() * 2 > m_templateSize.width())
                placed.translate(dx, 0);
            if (placed.top() >= m_stretch.bottom())
                placed.translate(0, dy);
        }
        control.key()->setGeometry(placed);
    }
}

bool CDialog::Create()
{
    if (m_created)
        return true;
    const DialogTemplate *dialogTemplate = FindDialogTemplate(m_templateId);
    if (!dialogTemplate)
        return false;
    m_controls = BuildDialogFromTemplate(this, *dialogTemplate);
    for (const Binding &binding : m_bindings) {
        if (auto *edit = qobject_cast<QLineEdit *>(GetDlgItem(binding.id)))
            edit->setValidator(new InputLimiter(binding.maxChars, edit));
    }
    connectNotifications();
    m_created = true;
    return true;
}

int CDialog::DoModal()
{
    if (!CanCreate())
        return -1;
    OnCreating();
    if (!Create())
        return -1;
    // The window is made before init, so that its making (round trips to
    // the display server) overlaps whatever OnCreating started.
    create();
    m_endedDuringInit = false;
    m_initializing = true;
    dispatch([this] { OnInitDialog(); });
    m_initializing = false;
    // A dialog that ended while it was set up is never shown.
    if (m_endedDuringInit)
        return result();
    // The first control in tab order starts with the focus.
    for (QWidget *widget = nextInFocusChain(); widget != this; widget = widget->nextInFocusChain()) {
        if (widget->focusPolicy() & Qt::TabFocus && widget->isEnabled()) {
            widget->setFocus();
            break;
        }
    }
    return exec();
}

void CDialog::PrepareSurface()
{
    QBackingStore *store = backingStore();
    if (!store)
        return;
    // The size the first paint asks for, so that it keeps this surface; the
    // paint covers it whole.
    store->resize(size());
    const QRect all(QPoint(), size());
    store->beginPaint(all);
    QPainter(store->paintDevice()).fillRect(all, palette().window());
    store->endPaint();
}

void CDialog::SetMessageMap(std::vector<MessageEntry> entries)
{
    m_messageMap = std::move(entries);
}

void CDialog::connectNotifications()
{
    auto onClick = [this](int id, std::function<void()> handler) {
        if (auto *button = qobject_cast<QAbstractButton *>(GetDlgItem(id)))
            connect(button, &QAbstractButton::clicked, this, [this, handler] { dispatch(handler); });
    };
    onClick(IDOK, [this] { OnOK(); });
    onClick(IDCANCEL, [this] { OnCancel(); });

    for (const MessageEntry &entry : m_messageMap) {
        QWidget *control = GetDlgItem(entry.controlId);
        auto run = [this, handler = entry.handler] { dispatch(handler); };
        switch (entry.code) {
        case Notification::Clicked:
            onClick(entry.controlId, entry.handler);
            break;
        case Notification::TextChanged:
            if (auto *edit = qobject_cast<QLineEdit *>(control))
                connect(edit, &QLineEdit::textChanged, this, run);
            break;
        case Notification::ContextMenu:
            if (auto *list = qobject_cast<CListBox *>(control))
                connect(list, &CListBox::contextMenuRequested, this, run);
            break;
        case Notification::Key:
            if (auto *list = qobject_cast<CListBox *>(control)) {
                list->AddCommandKey(entry.key);
                connect(list, &CListBox::commandKeyPressed, this, [run, key = entry.key](const QKeySequence &pressed) {
                    if (pressed == key)
                        run();
                });
            }
            break;
        case Notification::SelectionChanged:
            if (auto *list = qobject_cast<CListBox *>(control))
                connect(list, &CListBox::selectionChangedByUser, this, run);
            else if (auto *combo = qobject_cast<CComboBox *>(control))
                connect(combo, &CComboBox::selectionChangedByUser, this, run);
            break;
        }
    }
}

void CDialog::dispatch(const std::function<void()> &handler)
{
    ++m_handlerDepth;
    const auto done = qScopeGuard([this] { --m_handlerDepth; });
    try {
        handler();
    } catch (const std::bad_alloc &) {
        MessageBox(QStringLiteral("Nicht genug Arbeitsspeicher; die Aktion wurde abgebrochen."), MessageBoxFlags::Ok);
    } catch (const std::exception &error) {
        MessageBox(QString::fromUtf8(error.what()), MessageBoxFlags::Ok);
    } catch (...) {
        MessageBox(QStringLiteral("Ein unerwarteter Fehler ist aufgetreten."), MessageBoxFlags::Ok);
    }
}

void CDialog::OnInitDialog()
{
    UpdateData(false);
}

void CDialog::OnOK()
{
    if (UpdateData(true))
        EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

void CDialog::reject()
{
    dispatch([this] { OnCancel(); });
}

void CDialog::EndDialog(int result)
{
    if (m_initializing) {
        m_endedDuringInit = true;
        setResult(result);
        return;
    }
    done(result);
}

void CDialog::BindText(int id, QString *member, int maxChars)
{
    m_bindings.push_back({id, member, maxChars});
}

bool CDialog::UpdateData(bool saveAndValidate)
{
    for (const Binding &binding : m_bindings) {
        auto *edit = qobject_cast<QLineEdit *>(GetDlgItem(binding.id));
        if (!edit)
            continue;
        if (!saveAndValidate) {
            edit->setText(*binding.member);
            continue;
        }
        const QString text = edit->text();
        if (text.size() > binding.maxChars) {
            MessageBox(QStringLiteral("Geben Sie nicht mehr als %1 Zeichen ein.").arg(binding.maxChars),
                       MessageBoxFlags::Ok);
            edit->setFocus();
            edit->selectAll();
            return false;
        }
        *binding.member = text;
    }
    return true;
}

QWidget *CDialog::GetDlgItem(int id) const
{
    return m_controls.value(id);
}

CListBox *CDialog::GetListBox(int id) const
{
    return qobject_cast<CListBox *>(GetDlgItem(id));
}

CComboBox *CDialog::GetComboBox(int id) const
{
    return qobject_cast<CComboBox *>(GetDlgItem(id));
}

QString CDialog::GetDlgItemText(int id) const
{
    QWidget *control = GetDlgItem(id);
    if (auto *edit = qobject_cast<QLineEdit *>(control))
        return edit->text();
    if (auto *button = qobject_cast<QAbstractButton *>(control))
        return button->text();
    if (auto *label = qobject_cast<QLabel *>(control))
        return label->text();
    if (auto *group = qobject_cast<QGroupBox *>(control))
        return group->title();
    if (auto *combo = qobject_cast<QComboBox *>(control))
        return combo->currentText();
    return {};
}

void CDialog::ReplaceDlgItemText(int id, const QString &text)
{
    auto *edit = qobject_cast<QLineEdit *>(GetDlgItem(id));
    if (!edit) {
        SetDlgItemText(id, text);
        return;
    }
    edit->selectAll();
    edit->insert(text);
}

void CDialog::SetDlgItemText(int id, const QString &text)
{
    QWidget *control = GetDlgItem(id);
    if (auto *edit = qobject_cast<QLineEdit *>(control))
        edit->setText(text);
    else if (auto *button = qobject_cast<QAbstractButton *>(control))
        button->setText(text);
    else if (auto *label = qobject_cast<QLabel *>(control))
        label->setText(text);
    else if (auto *group = qobject_cast<QGroupBox *>(control))
        group->setTitle(text);
}

void CDialog::EnableDlgItem(int id, bool enable)
{
    if (QWidget *control = GetDlgItem(id))
        control->setEnabled(enable);
}

int CDialog::MessageBox(const QString &text, unsigned flags)
{
    return ShowMessageBox(this, text, flags);
}
