#include "cdialog.h"
#include "kelvotemplates.h"
#include "templateregistry.h"

#include <QAccessible>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

// The module's dialogs as people meet them: laid out without overlaps or
// clipped texts at the device pixel ratio and the desktop font size the test
// runs at (ctest runs it at 1, 1.5 and 2, and at 9, 11 and 14 pt), in that
// font, and every field named for a screen reader by the label before it.
class tst_Layout : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void controlsNeitherOverlapNorLeaveTheDialog_data();
    void controlsNeitherOverlapNorLeaveTheDialog();
    void screenReadersHearTheLabels_data();
    void screenReadersHearTheLabels();
};

void tst_Layout::initTestCase()
{
    RegisterDialogTemplates(KelvoTemplates());
    // The desktop's font, as a platform theme would set it.
    if (const int points = qEnvironmentVariableIntValue("KELVO_TEST_FONT_POINTS")) {
        QFont font = QApplication::font();
        font.setPointSize(points);
        QApplication::setFont(font);
    }
}

void tst_Layout::controlsNeitherOverlapNorLeaveTheDialog_data()
{
    QTest::addColumn<int>("templateId");
    for (const DialogTemplate &dialogTemplate : KelvoTemplates())
        QTest::addRow("template %d", dialogTemplate.id) << dialogTemplate.id;
}

void tst_Layout::controlsNeitherOverlapNorLeaveTheDialog()
{
    QFETCH(int, templateId);
    CDialog dialog(templateId);
    QVERIFY(dialog.Create());
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(dialog.devicePixelRatioF(), qEnvironmentVariable("QT_SCALE_FACTOR", "1").toDouble());

    // Group boxes frame others by design; every other control stands alone.
    const QList<QWidget *> controls = dialog.findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    QVERIFY(controls.size() > 1);
    for (QWidget *control : controls) {
        const QString name = control->objectName() + ':' + control->metaObject()->className();
        QVERIFY2(dialog.rect().contains(control->geometry()), qPrintable(name + " leaves the dialog"));
        QCOMPARE(control->font(), QApplication::font());
        // Every text shows whole.
        const QFontMetrics metrics(control->font());
        if (auto *label = qobject_cast<QLabel *>(control)) {
            // A wrapped text breaks between words, never inside one.
            const QString shown = QString(label->text()).remove(QLatin1Char('&'));
            int widest = 0;
            for (const QString &word : shown.split(QRegularExpression(QStringLiteral("\\s+"))))
                widest = std::max(widest, metrics.horizontalAdvance(word));
            QVERIFY2(label->heightForWidth(label->width()) <= label->height()
                         && (label->wordWrap() ? widest : metrics.horizontalAdvance(shown)) <= label->width(),
                     qPrintable(name + " clips \"" + shown + "\""));
        }
        if (auto *button = qobject_cast<QPushButton *>(control))
            QVERIFY2(metrics.horizontalAdvance(button->text()) + 8 <= button->width(),
                     qPrintable(name + " clips \"" + button->text() + "\""));
        if (qobject_cast<QGroupBox *>(control))
            continue;
        for (QWidget *other : controls) {
            if (other == control || qobject_cast<QGroupBox *>(other))
                continue;
            QVERIFY2(!control->geometry().intersects(other->geometry()),
                     qPrintable(name + " overlaps " + other->objectName() + ':' + other->metaObject()->className()));
        }
    }
}

void tst_Layout::screenReadersHearTheLabels_data()
{
    QTest::addColumn<int>("templateId");
    QTest::addColumn<QStringList>("named");  // role:name of every field, in tab order
    QTest::newRow("selection") << 3001 << QStringList{"list:Bezeichnung", "edit:Server:", "edit:Startverzeichnis:",
                                                      "edit:Plugindateiname:"};
    QTest::newRow("new entry") << 3002 << QStringList{"edit:Adressbezeichnung:",
                                                      "combo:Nutze Publishing-Worker zur Publizierung:",
                                                      "edit:Adresse (inkl. Protokoll / Serveradresse):",
                                                      "edit:Startpfad auf Server:"};
}

void tst_Layout::screenReadersHearTheLabels()
{
    QFETCH(int, templateId);
    QFETCH(QStringList, named);
    CDialog dialog(templateId);
    QVERIFY(dialog.Create());
    dialog.show();
    QAccessibleInterface *window = QAccessible::queryAccessibleInterface(&dialog);
    QVERIFY(window);
    QStringList fields;
    QStringList texts;  // what else the tree shows, so no visible text changed
    for (int i = 0; i < window->childCount(); ++i) {
        QAccessibleInterface *child = window->child(i);
        const QString name = child->text(QAccessible::Name);
        switch (child->role()) {
        case QAccessible::EditableText:
            fields << "edit:" + name;
            break;
        case QAccessible::List:
            fields << "list:" + name;
            break;
        case QAccessible::ComboBox:
            fields << "combo:" + name;
            break;
        case QAccessible::StaticText:
        case QAccessible::Grouping:
        case QAccessible::Button:
            texts << name;
            break;
        default:
            QFAIL(qPrintable(QStringLiteral("unexpected role %1 of %2").arg(child->role()).arg(name)));
        }
    }
    QCOMPARE(fields, named);
    for (const QString &field : named)
        QVERIFY2(texts.contains(field.section(':', 1)), qPrintable(field));  // the label is still shown as it was
}

QTEST_MAIN(tst_Layout)
#include "tst_layout.moc"
