#pragma once

#include <QDialog>
#include <QHash>
#include <QKeySequence>

#include <functional>
#include <vector>

class CComboBox;
class CListBox;

// A modal dialog built from a registered template. Subclasses declare their
// control notifications in one message map, bind edit fields to string
// members, and override the init, OK and Cancel handlers.
//
// Every handler runs through one dispatch: an exception it throws is shown in
// a message box and the dialog goes on, so nothing is thrown through Qt's
// event loop.
class CDialog : public QDialog
{
    Q_OBJECT

public:
    explicit CDialog(int templateId);
    ~CDialog() override;

    // Whether dialogs can be made at all: widgets need a QApplication, and
    // constructing one without it would abort the process.
    static bool CanCreate();

    // Builds the widgets from the template, once; false when it is unknown.
    bool Create();
    // Runs the dialog: 1 for OK, 2 for Cancel, Escape and the close box, -1
    // when it cannot be created.
    int DoModal();

protected:
    // ContextMenu and Key come from list boxes: a right click, the Menu key
    // or Shift+F10; the entry's key pressed in the list (F2, Delete, Ctrl+C).
    enum class Notification { SelectionChanged, Clicked, TextChanged, ContextMenu, Key };
    struct MessageEntry {
        Notification code;
        int controlId;
        std::function<void()> handler;
        QKeySequence key = {};
    };
    void SetMessageMap(std::vector<MessageEntry> entries);

    // Runs before the widgets are built, when the dialog is run: work that
    // needs no widget (reading the data to show, say) can start here on
    // another thread and go on while the widgets and the window are made.
    virtual void OnCreating() {}
    // Lets the user resize the dialog from its template size up: the control
    // stretchId (a list) and what frames it take the room; what lies below
    // it moves down, what lies in the right half moves right, and what spans
    // the dialog grows with it. The size the user chose is remembered.
    void SetResizable(int stretchId);
    void resizeEvent(QResizeEvent *event) override;
    // Runs once the widgets and the window exist and before the dialog
    // shows: copies the bound members into their fields. Overrides call this
    // first.
    virtual void OnInitDialog();
    // OK: copies the bound fields back, checking their limits; ends with 1.
    virtual void OnOK();
    // Cancel, Escape or the close box: ends with 2.
    virtual void OnCancel();
    // Makes the window's drawing surface and brings its memory in, ahead of
    // the first paint, which would do so: for time init would otherwise
    // spend waiting.
    void PrepareSurface();
    // Ends the run with result; called from OnInitDialog, the dialog is never
    // shown and DoModal returns result at once.
    void EndDialog(int result);

    // Binds edit field id to member, limited to maxChars characters: typing
    // stops there, and a longer text set otherwise fails the check on OK.
    void BindText(int id, QString *member, int maxChars);
    // true: fields into members, checking limits (false when one fails, after
    // telling the user); false: members into fields.
    bool UpdateData(bool saveAndValidate);

    // The control with that ID; null when the dialog has none.
    QWidget *GetDlgItem(int id) const;
    CListBox *GetListBox(int id) const;
    CComboBox *GetComboBox(int id) const;
    QString GetDlgItemText(int id) const;
    // An edit field notifies its change before this returns.
    void SetDlgItemText(int id, const QString &text);
    // The same for an edit field, as an edit the user can undo (Ctrl+Z): for
    // a program's change that replaces what the user typed.
    void ReplaceDlgItemText(int id, const QString &text);
    void EnableDlgItem(int id, bool enable);
    int MessageBox(const QString &text, unsigned flags);
    // Whether a handler is running (with a message box or a nested dialog
    // of its own open, perhaps): state it holds must not change under it.
    bool InHandler() const { return m_handlerDepth > 0; }

private:
    // The template's geometry of each control, and which one stretches.
    QHash<QWidget *, QRect> m_templateGeometry;
    QRect m_stretch;
    QSize m_templateSize;
    void reject() override;
    void connectNotifications();
    void dispatch(const std::function<void()> &handler);

    struct Binding {
        int id;
        QString *member;
        int maxChars;
    };

    int m_templateId;
    bool m_created = false;
    bool m_initializing = false;
    bool m_endedDuringInit = false;
    int m_handlerDepth = 0;
    QHash<int, QWidget *> m_controls;
    std::vector<MessageEntry> m_messageMap;
    std::vector<Binding> m_bindings;
};
