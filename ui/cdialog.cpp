#include "cdialog.h"

#include "ccombobox.h"
#include "clistbox.h"
#include "dialogbuilder.h"
#include "messagebox.h"
#include "templateregistry.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QValidator>

namespace {

// Refuses typing beyond a number of characters, like a limited edit field;
// text set from code is not checked here, but by UpdateData on OK.
class MaxCharsValidator : public QValidator
{
public:
    MaxCharsValidator(int maxChars, QObject *parent) : QValidator(parent), m_maxChars(maxChars) {}
    State validate(QString &input, int &) const override
    {
        return input.size() <= m_maxChars ? Acceptable : Invalid;
    }

private:
    int m_maxChars;
};

} // namespace

CDialog::CDialog(int templateId) : QDialog(nullptr), m_templateId(templateId)
{
}

CDialog::~CDialog() = default;

bool CDialog::CanCreate()
{
    return qobject_cast<QApplication *>(QCoreApplication::instance()) != nullptr;
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
            edit->setValidator(new MaxCharsValidator(binding.maxChars, edit));
    }
    connectNotifications();
    m_created = true;
    return true;
}

int CDialog::DoModal()
{
    if (!CanCreate() || !Create())
        return -1;
    dispatch([this] { OnInitDialog(); });
    // The first control in tab order starts with the focus.
    for (QWidget *widget = nextInFocusChain(); widget != this; widget = widget->nextInFocusChain()) {
        if (widget->focusPolicy() & Qt::TabFocus && widget->isEnabled()) {
            widget->setFocus();
            break;
        }
    }
    return exec();
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
    try {
        handler();
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
