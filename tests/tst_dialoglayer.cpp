#include "addresslimit.h"
#include "ccombobox.h"
#include "cdialog.h"
#include "collationsort.h"
#include "clistbox.h"
#include "kelvotemplates.h"
#include "messagebox.h"
#include "rememberedorder.h"
#include "modalhelper.h"
#include "templateregistry.h"
#include "testrandom.h"

#include <QClipboard>
#include <QDir>
#include <QCollator>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QtTest>

#include <optional>

namespace {

constexpr int kLayerTemplate = 9000;
constexpr ControlTemplate kLayerControls[] = {
    {100, ControlKind::Edit, 7, 7, 100, 12, ControlStyle::TabStop | ControlStyle::Border, ""},
    {200, ControlKind::ListBox, 7, 25, 100, 40, ControlStyle::TabStop | ControlStyle::Sorted, ""},
    {300, ControlKind::ComboBox, 7, 70, 100, 60, ControlStyle::TabStop | ControlStyle::DropDownList, ""},
    {400, ControlKind::PushButton, 7, 90, 50, 14, ControlStyle::TabStop, "Fehler"},
    {1, ControlKind::PushButton, 60, 110, 50, 14, ControlStyle::TabStop | ControlStyle::DefaultButton, "OK"},
    {2, ControlKind::PushButton, 7, 110, 50, 14, ControlStyle::TabStop, "Abbrechen"},
};
constexpr DialogTemplate kLayerTemplates[] = {
    {kLayerTemplate, "Probe", 120, 130, "MS Sans Serif", 8, 0, kLayerControls},
};

// Texts back to back as a listing gives them: one string and each text's end.
struct Listing {
    QString texts;
    std::vector<quint32> ends;
};

Listing listingOf(const QStringList &labels)
{
    Listing listing;
    for (const QString &label : labels) {
        listing.texts += label;
        listing.ends.push_back(quint32(listing.texts.size()));
    }
    return listing;
}

// A dialog of the layer's own: one bound field of at most 10 characters, and
// handlers that record what reached them.
class LayerDialog : public CDialog
{
public:
    explicit LayerDialog(int templateId = kLayerTemplate) : CDialog(templateId)
    {
        BindText(100, &m_text, 10);
        SetMessageMap({
            {Notification::TextChanged, 100, [this] { ++m_textChanges; }},
            {Notification::SelectionChanged, 200, [this] { ++m_listChanges; }},
            {Notification::SelectionChanged, 300, [this] { ++m_comboChanges; }},
            {Notification::Clicked, 400, [] { throw std::runtime_error("Handler ist gescheitert"); }},
        });
    }
    void OnInitDialog() override
    {
        CDialog::OnInitDialog();
        m_initSawField = GetDlgItemText(100);
    }

    QString m_text = QStringLiteral("Anfang");
    QString m_initSawField;
    int m_textChanges = 0, m_listChanges = 0, m_comboChanges = 0;
};

// The next control that Tab reaches, passing over the inner parts of controls.
QWidget *nextTabStop(QWidget *from)
{
    QWidget *next = from->nextInFocusChain();
    while (next->parentWidget() != from->parentWidget() || !(next->focusPolicy() & Qt::TabFocus))
        next = next->nextInFocusChain();
    return next;
}

} // namespace

class tst_DialogLayer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void modalReturnCodes_data();
    void modalReturnCodes();
    void unknownTemplateCannotBeCreated();
    void workAheadOfTheWidgetsAndAnEndedInitNeverShows();
    void preparedSurfaceIsPaintedWhole();
    void bindingsTransferBothWays();
    void tooLongTextFailsTheCheckAndStaysOpen();
    void typingStopsAtTheLimit();
    void pasteIsCutToTheLimit();
    void throwingHandlerIsShownAndTheDialogGoesOn();
    void notificationsFollowTheUserOnly();
    void listKeepsOneLineSelected();
    void selectingAFarLineScrollsToIt();
    void pageKeysMoveAPageWhileTheListIsLaidOut();

    void sortedInsertion();
    void batchFillEqualsOneByOne_data();
    void batchFillEqualsOneByOne();
    void collatedOrderEqualsQCollator_data();
    void collatedOrderEqualsQCollator();
    void rememberedOrderServesOnlyItsListing();
    void inPlaceChangesEqualAFreshListing();
    void comboStartsWithoutSelection();

    void messageBoxes_data();
    void messageBoxes();

    void templatesHaveEveryControl();
    void templatesRenderNonBlank();
};

void tst_DialogLayer::initTestCase()
{
    RegisterDialogTemplates(kLayerTemplates);
    RegisterDialogTemplates(KelvoTemplates());
}

void tst_DialogLayer::cleanup()
{
    verifyNothingLeftOpen();
}

void tst_DialogLayer::modalReturnCodes_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("result");
    QTest::newRow("OK button") << "ok" << 1;
    QTest::newRow("Enter") << "enter" << 1;
    QTest::newRow("Abbrechen") << "cancel" << 2;
    QTest::newRow("Escape") << "escape" << 2;
    QTest::newRow("close box") << "close" << 2;
}

void tst_DialogLayer::modalReturnCodes()
{
    QFETCH(QString, how);
    QFETCH(int, result);
    LayerDialog dialog;
    whenModal([how](QWidget *d) {
        if (how == "ok")
            QTest::mouseClick(child<QPushButton>(d, 1), Qt::LeftButton);
        else if (how == "enter")
            QTest::keyClick(child<QLineEdit>(d, 100), Qt::Key_Return);
        else if (how == "cancel")
            QTest::mouseClick(child<QPushButton>(d, 2), Qt::LeftButton);
        else if (how == "escape")
            QTest::keyClick(d, Qt::Key_Escape);
        else
            d->close();
    });
    QCOMPARE(dialog.DoModal(), result);
}

void tst_DialogLayer::unknownTemplateCannotBeCreated()
{
    LayerDialog dialog(4711);
    QCOMPARE(dialog.DoModal(), -1);
    QVERIFY(!dialog.Create());
}

// Work may start before the widgets are built and run on while they and the
// window are made; init then finds the window made but not shown, and a
// dialog that ends there never appears, although its window exists.
void tst_DialogLayer::workAheadOfTheWidgetsAndAnEndedInitNeverShows()
{
    class EndingDialog : public LayerDialog
    {
    public:
        void OnCreating() override { m_widgetsAtCreating = GetDlgItem(100) != nullptr; }
        void OnInitDialog() override
        {
            LayerDialog::OnInitDialog();
            m_windowAtInit = testAttribute(Qt::WA_WState_Created) && !isVisible();
            EndDialog(-1);
        }
        bool event(QEvent *event) override
        {
            m_shown = m_shown || event->type() == QEvent::Show;
            return LayerDialog::event(event);
        }
        bool m_widgetsAtCreating = true, m_windowAtInit = false, m_shown = false;
    } dialog;
    QCOMPARE(dialog.DoModal(), -1);
    QVERIFY(!dialog.m_widgetsAtCreating);
    QVERIFY(dialog.m_windowAtInit);
    QVERIFY(!dialog.m_shown);
    QCOMPARE(dialog.m_initSawField, QStringLiteral("Anfang"));
}

// A surface made ahead of the first paint is painted whole by it: the
// window shows what its widgets draw, not the bare background. (Pixels may
// differ only where the edit field's cursor blinks.)
void tst_DialogLayer::preparedSurfaceIsPaintedWhole()
{
    class PreparingDialog : public LayerDialog
    {
    public:
        void OnInitDialog() override
        {
            LayerDialog::OnInitDialog();
            PrepareSurface();
        }
    } dialog;
    QImage shown, drawn;
    whenModal([&](QWidget *d) {
        QVERIFY(QTest::qWaitForWindowExposed(d));
        QCoreApplication::processEvents();
        shown = d->screen()->grabWindow(d->winId()).toImage();
        drawn = d->grab().toImage().convertToFormat(shown.format());
        d->close();
    });
    dialog.DoModal();
    QCOMPARE(shown.size(), drawn.size());
    qsizetype differing = 0, background = 0;
    const QRgb window = dialog.palette().window().color().rgb();
    for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x) {
            differing += shown.pixel(x, y) != drawn.pixel(x, y);
            background += drawn.pixel(x, y) == window;
        }
    }
    const qsizetype pixels = qsizetype(shown.width()) * shown.height();
    QVERIFY2(background < pixels * 9 / 10, "the dialog draws hardly anything but its background");
    QVERIFY2(differing < pixels / 200, qPrintable(QStringLiteral("%1 of %2 pixels differ").arg(differing).arg(pixels)));
}

void tst_DialogLayer::bindingsTransferBothWays()
{
    LayerDialog dialog;
    whenModal([](QWidget *d) {
        auto *edit = child<QLineEdit>(d, 100);
        QCOMPARE(d->focusWidget(), edit);  // the first control in tab order
        edit->clear();
        QTest::keyClicks(edit, "Neuer Text");
        QTest::mouseClick(child<QPushButton>(d, 1), Qt::LeftButton);
    });
    QCOMPARE(dialog.DoModal(), 1);
    QCOMPARE(dialog.m_initSawField, QStringLiteral("Anfang"));
    QCOMPARE(dialog.m_text, QStringLiteral("Neuer Text"));
}

void tst_DialogLayer::tooLongTextFailsTheCheckAndStaysOpen()
{
    LayerDialog dialog;
    QString boxText;
    whenModal([&boxText](QWidget *d) {
        child<QLineEdit>(d, 100)->setText(QString(11, 'x'));  // set from code: not refused
        QCOMPARE(child<QLineEdit>(d, 100)->text().size(), 11);
        whenModal([&boxText](QWidget *box) {
            boxText = messageText(box);
            QTest::keyClick(box, Qt::Key_Return);
            whenModal([](QWidget *d) {  // still open: shorten and accept
                QCOMPARE(d->focusWidget(), child<QLineEdit>(d, 100));
                child<QLineEdit>(d, 100)->setText(QString(10, 'y'));
                QTest::mouseClick(child<QPushButton>(d, 1), Qt::LeftButton);
            });
        }, d);
        QTest::mouseClick(child<QPushButton>(d, 1), Qt::LeftButton);
    });
    QCOMPARE(dialog.DoModal(), 1);
    QVERIFY(boxText.contains("10"));
    QCOMPARE(dialog.m_text, QString(10, 'y'));
}

void tst_DialogLayer::typingStopsAtTheLimit()
{
    LayerDialog dialog;
    whenModal([](QWidget *d) {
        auto *edit = child<QLineEdit>(d, 100);
        edit->clear();
        QTest::keyClicks(edit, "0123456789abc");
        QCOMPARE(edit->text(), QStringLiteral("0123456789"));
        QTest::mouseClick(child<QPushButton>(d, 1), Qt::LeftButton);
    });
    QCOMPARE(dialog.DoModal(), 1);
    QCOMPARE(dialog.m_text, QStringLiteral("0123456789"));
}

// A paste, a drop or the context menu's "Paste" inserts what fits, as typing
// does, instead of nothing.
void tst_DialogLayer::pasteIsCutToTheLimit()
{
    LayerDialog dialog;
    whenModal([](QWidget *d) {
        auto *edit = child<QLineEdit>(d, 100);
        edit->clear();
        QTest::keyClicks(edit, "ab");
        QGuiApplication::clipboard()->setText("0123456789XYZ");
        QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(edit->text(), QStringLiteral("ab01234567"));
        QCOMPARE(edit->cursorPosition(), 10);

        // Into the middle: the head and the tail stay, the pasted run is cut.
        edit->clear();
        QTest::keyClicks(edit, "ad");
        QTest::keyClick(edit, Qt::Key_Left);
        QGuiApplication::clipboard()->setText("bcXXXXXXXXXXXX");
        edit->paste();  // what the context menu's action calls
        QCOMPARE(edit->text(), QStringLiteral("abcXXXXXXd"));

        // Over a selection, and into a full field, where nothing fits.
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(edit->text(), QStringLiteral("bcXXXXXXXX"));
        QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(edit->text(), QStringLiteral("bcXXXXXXXX"));
        QTest::mouseClick(child<QPushButton>(d, 1), Qt::LeftButton);
    });
    QCOMPARE(dialog.DoModal(), 1);
    QCOMPARE(dialog.m_text, QStringLiteral("bcXXXXXXXX"));
}

void tst_DialogLayer::throwingHandlerIsShownAndTheDialogGoesOn()
{
    LayerDialog dialog;
    QString boxText;
    whenModal([&boxText](QWidget *d) {
        whenModal([&boxText](QWidget *box) {
            boxText = messageText(box);
            answer(box, QMessageBox::Ok);
            whenModal([](QWidget *d) { QTest::mouseClick(child<QPushButton>(d, 2), Qt::LeftButton); });
        }, d);
        QTest::mouseClick(child<QPushButton>(d, 400), Qt::LeftButton);
    });
    QCOMPARE(dialog.DoModal(), 2);
    QCOMPARE(boxText, QStringLiteral("Handler ist gescheitert"));
}

void tst_DialogLayer::notificationsFollowTheUserOnly()
{
    LayerDialog dialog;
    whenModal([&dialog](QWidget *d) {
        auto *list = child<CListBox>(d, 200);
        auto *combo = child<CComboBox>(d, 300);
        auto *edit = child<QLineEdit>(d, 100);
        for (const char *text : {"b", "a", "c"}) {
            list->AddString(text);
            combo->AddString(text);
        }
        const int textChangesBefore = dialog.m_textChanges;
        edit->setText("von Code");  // edit fields notify before setText returns
        QCOMPARE(dialog.m_textChanges, textChangesBefore + 1);

        list->SetCurSel(1);
        combo->SetCurSel(1);
        QCOMPARE(dialog.m_listChanges, 0);
        QCOMPARE(dialog.m_comboChanges, 0);
        QCOMPARE(list->GetCurSel(), 1);

        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(list->model()->index(2, 0)).center());
        QCOMPARE(list->GetCurSel(), 2);
        QCOMPARE(dialog.m_listChanges, 1);
        // Choosing the line that is already chosen still notifies.
        emit combo->activated(1);
        QCOMPARE(dialog.m_comboChanges, 1);

        list->SetCurSel(-1);
        QCOMPARE(list->GetCurSel(), -1);
        QCOMPARE(list->GetItemData(-1), -1);
        QCOMPARE(dialog.m_listChanges, 1);
        QTest::mouseClick(child<QPushButton>(d, 2), Qt::LeftButton);
    });
    QCOMPARE(dialog.DoModal(), 2);
}

// As in a single-selection list box, a line stays selected while there are
// lines: neither a click on the blank area nor Ctrl+click or Ctrl+Space clears it.
void tst_DialogLayer::listKeepsOneLineSelected()
{
    LayerDialog dialog;
    whenModal([&dialog](QWidget *d) {
        auto *list = child<CListBox>(d, 200);
        for (const char *text : {"b", "a", "c"})
            list->AddString(text);
        list->SetCurSel(1);
        const QRect second = list->visualRect(list->model()->index(1, 0));
        const QPoint blank(second.center().x(), list->viewport()->height() - 2);
        QVERIFY(!list->indexAt(blank).isValid());

        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, blank);
        QCOMPARE(list->GetCurSel(), 1);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier, second.center());
        QCOMPARE(list->GetCurSel(), 1);
        QTest::mouseClick(list->viewport(), Qt::RightButton, {}, blank);
        QCOMPARE(list->GetCurSel(), 1);
        list->setFocus();
        QTest::keyClick(list, Qt::Key_Space, Qt::ControlModifier);
        QCOMPARE(list->GetCurSel(), 1);
        QTest::keyClick(list, Qt::Key_Down, Qt::ControlModifier);
        QTest::keyClick(list, Qt::Key_Space, Qt::ControlModifier);
        QVERIFY(list->GetCurSel() != -1);
        QCOMPARE(dialog.m_listChanges > 0, list->GetCurSel() != 1);
        QTest::mouseClick(child<QPushButton>(d, 2), Qt::LeftButton);
    });
    QCOMPARE(dialog.DoModal(), 2);
}

// A large list is laid out a batch at a time; a line selected beyond the
// first batch is still scrolled into view.
// Fills list with 20,000 lines "Eintrag 00000" on, in that order.
static void fillWithEntries(CListBox *list)
{
    QStringList labels;
    for (int i = 0; i < 20000; ++i)
        labels << QStringLiteral("Eintrag %1").arg(i, 5, 10, QChar('0'));
    const Listing listing = listingOf(labels);
    list->AddTexts(listing.texts, listing.ends);
}

void tst_DialogLayer::selectingAFarLineScrollsToIt()
{
    LayerDialog dialog;
    whenModal([](QWidget *d) {
        auto *list = child<CListBox>(d, 200);
        fillWithEntries(list);
        list->SetCurSel(15000);
        QCOMPARE(list->GetText(15000), QStringLiteral("Eintrag 15000"));
        const QRect line = list->visualRect(list->model()->index(15000, 0));
        QVERIFY(line.isValid());
        QVERIFY(list->viewport()->rect().intersects(line));
        QTest::mouseClick(child<QPushButton>(d, 2), Qt::LeftButton);
    });
    QCOMPARE(dialog.DoModal(), 2);
}

// PageDown and PageUp move by the lines a page shows and stop at the ends,
// with the line selected and shown, also right after a change, while a
// large list is still being laid out a batch at a time (Qt's own way could
// select nothing then; how long a key takes is bench_live's to measure).
void tst_DialogLayer::pageKeysMoveAPageWhileTheListIsLaidOut()
{
    LayerDialog dialog;
    whenModal([](QWidget *d) {
        auto *list = child<CListBox>(d, 200);
        fillWithEntries(list);
        list->SetCurSel(0);
        list->setFocus();
        const int page = list->viewport()->height() / list->sizeHintForRow(0) - 1;
        QVERIFY(page > 0);
        for (int key = 1; key <= 40; ++key) {
            list->InsertListed(QStringLiteral("Eintrag %1x").arg(key), 20000 + key);
            QTest::keyClick(list, Qt::Key_PageDown);
            QCOMPARE(list->GetCurSel(), key * page);
            QVERIFY(list->viewport()->rect().intersects(list->visualRect(list->model()->index(key * page, 0))));
        }
        list->SetCurSel(list->GetCount() - 3);
        QTest::keyClick(list, Qt::Key_PageDown);
        QCOMPARE(list->GetCurSel(), list->GetCount() - 1);
        QTest::keyClick(list, Qt::Key_PageUp);
        QCOMPARE(list->GetCurSel(), list->GetCount() - 1 - page);
        QTest::mouseClick(child<QPushButton>(d, 2), Qt::LeftButton);
    });
    QCOMPARE(dialog.DoModal(), 2);
}

void tst_DialogLayer::sortedInsertion()
{
    SortedLinesModel lines;
    QStringList inserted = {"Zeta", "äpfel", "Apfel", "Ärger", "apfel", "Öl", "oel", "Zeta", "b"};
    QList<int> positions;
    for (int i = 0; i < inserted.size(); ++i) {
        positions << lines.AddString(inserted[i]);
        lines.SetItemData(positions.last(), i);
    }
    QStringList order;
    for (int i = 0; i < lines.GetCount(); ++i)
        order << QStringLiteral("%1=%2").arg(lines.GetText(i)).arg(lines.GetItemData(i));
    // German, case-insensitive; equal texts in the order they came; data stays with its line.
    QCOMPARE(order, QStringList({"Apfel=2", "apfel=4", "äpfel=1", "Ärger=3", "b=8", "oel=6",
                                 "Öl=5", "Zeta=0", "Zeta=7"}));
    QCOMPARE(positions.first(), 0);
    QCOMPARE(positions.last(), 4);
    QCOMPARE(lines.GetItemData(-1), -1);
    QCOMPARE(lines.GetItemData(lines.GetCount()), -1);
    QVERIFY(!lines.SetItemData(-1, 5));
}

// The model's batch fill and listing against one-by-one insertion with
// QCollator, on words that stress German collation: umlauts and ß, case
// variants, digits, duplicates, long shared prefixes (decided beyond the
// records' inline part), empty and ignorable texts, and lines already
// present. Large rounds take the two-thread path.
void tst_DialogLayer::batchFillEqualsOneByOne_data()
{
    QTest::addColumn<int>("lines");
    QTest::addColumn<int>("rounds");
    QTest::newRow("small") << 50 << 20;
    QTest::newRow("two threads") << 6000 << 2;
}

void tst_DialogLayer::batchFillEqualsOneByOne()
{
    QFETCH(int, lines);
    QFETCH(int, rounds);
    const QStringList words = {"Server", "server", "Übung", "ubung", "Ost", "öst", "", "FTP", "ftp", "Zeta",
                               "Straße", "STRASSE", "strasse", "Maße", "Masse", "10", "9", "a1", "A01", "Ärger",
                               "Aerger", "Gemeindeverwaltung Bäckerstraße Nord", "gemeindeverwaltung bäckerstrasse nord",
                               "Gemeindeverwaltung Bäckerstraße Süd", QString(QChar(0x200B)), "x" + QString(QChar(0x200B))};
    QRandomGenerator *random = &testRandom();
    for (int round = 0; round < rounds; ++round) {
        SortedLinesModel oneByOne, batch, listing;
        // Some lines already present, then a batch of many, with duplicates.
        const int present = random->bounded(5);
        for (int i = 0; i < present; ++i) {
            const QString text = words[random->bounded(words.size())];
            oneByOne.SetItemData(oneByOne.AddString(text), -i - 1);
            batch.SetItemData(batch.AddString(text), -i - 1);
        }
        std::vector<SortedLinesModel::Line> added;
        QStringList texts;
        for (int i = 0; i < lines; ++i) {
            QString text = words[random->bounded(words.size())];
            if (random->bounded(3) == 0)
                text += QStringLiteral(" %1").arg(random->bounded(20));
            added.push_back({text, i});
            oneByOne.SetItemData(oneByOne.AddString(text), i);
            texts << text;
        }
        batch.AddLines(added);
        const Listing listed = listingOf(texts);
        listing.AddTexts(listed.texts, listed.ends);
        QCOMPARE(batch.GetCount(), oneByOne.GetCount());
        QCOMPARE(listing.GetCount(), lines);
        for (int i = 0, l = 0; i < batch.GetCount(); ++i) {
            QCOMPARE(batch.GetText(i), oneByOne.GetText(i));
            QCOMPARE(batch.GetItemData(i), oneByOne.GetItemData(i));
            if (oneByOne.GetItemData(i) < 0)
                continue;  // lines present before are not in the listing
            QCOMPARE(listing.GetText(l), oneByOne.GetText(i));
            QCOMPARE(listing.GetItemData(l), oneByOne.GetItemData(i));
            ++l;
        }
    }
}

// The listing's sort decides most comparisons by a prefix of base-letter
// weights and leaves the rest to ICU. Against a stable sort with QCollator:
// every character of the Latin ranges alone and beside the ones that need
// care (contractions such as "l·", expansions such as ß, ¼ and æ, ignorable
// and combining characters, other scripts, surrogates), and random texts
// that share long prefixes.
void tst_DialogLayer::collatedOrderEqualsQCollator_data()
{
    // Sized explicitly: the NUL inside must not end the text.
    static constexpr char16_t trickyUnits[] =
        u"lL\u00B7\u0387\u00DF\u1E9E\u00E6\u00C6\u0153\u00BC\u0132\u01C4\u01C6\u01F1"
        u"4a\u00E4AsSzZ0 -_.,\u00A0\u00AD\u0000\u0009\u200B\u0301\u0308\u0323\uFDD1"
        u"\u0418\u0439\u4E00\u00D8\u0131\u0130\u0149\u01C0\u024F\U0001F600";
    const QString tricky = QString::fromUtf16(trickyUnits, qsizetype(std::size(trickyUnits)) - 1);
    QVERIFY(tricky.endsWith(QStringView(u"\U0001F600")));
    QStringList all;
    for (char16_t c = 0; c < 0x260; ++c)
        all << QString(QChar(c));
    for (qsizetype i = 0; i < tricky.size(); ++i) {
        const qsizetype width = tricky[i].isHighSurrogate() ? 2 : 1;
        all << tricky.mid(i, width);
        i += width - 1;
    }
    QStringList pairs = all;
    for (qsizetype i = 0; i < tricky.size(); ++i) {
        for (const QString &other : std::as_const(all)) {
            pairs << tricky[i] + other << other + tricky[i];
        }
    }

    QStringList random;
    QRandomGenerator *generator = &testRandom();
    QStringList stems = {"", "Gemeindeverwaltung ", "Kundenserver Müller", "Straße ", "l", "al"};
    // Equal beginnings of every length up to 40, so that expansions such as ß
    // fall on every place of the part compared first.
    for (int length = 1; length <= 40; ++length)
        stems << QStringLiteral("Kundenserver Nr. 12345678901234567890ABCD").left(length);
    for (int i = 0; i < 40000; ++i) {
        QString text = stems[generator->bounded(stems.size())];
        for (int length = generator->bounded(12); length > 0; --length) {
            const QString &from = generator->bounded(3) == 0 ? tricky : all.at(generator->bounded(0x80));
            text += from.at(generator->bounded(from.size()));
        }
        random << text;
    }
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("characters and pairs") << pairs;
    QTest::newRow("random texts") << random;
    // Too few to remember.
    QTest::newRow("short random texts") << random.mid(0, int(kRememberedFrom) - 1);
}

void tst_DialogLayer::collatedOrderEqualsQCollator()
{
    QFETCH(QStringList, texts);
    const Listing listing = listingOf(texts);
    const std::vector<uint32_t> order = CollatedOrder(listing.texts, listing.ends);

    QCollator collator(QLocale(QLocale::German, QLocale::Germany));
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::vector<uint32_t> expected(size_t(texts.size()));
    std::iota(expected.begin(), expected.end(), 0u);
    std::stable_sort(expected.begin(), expected.end(),
                     [&](uint32_t a, uint32_t b) { return collator.compare(texts[a], texts[b]) < 0; });
    for (size_t i = 0; i < expected.size(); ++i) {
        if (order[i] != expected[i])
            QFAIL(qPrintable(QStringLiteral("place %1: \"%2\" where QCollator has \"%3\"")
                                 .arg(i)
                                 .arg(texts[order[i]], texts[expected[i]])));
    }
    // The same order when it is remembered, and when it is read back.
    QTemporaryDir dir;
    const QString file = dir.filePath("kelvo.order");
    QCOMPARE(RememberedOrder(file, listing.ends.size()).OrderOf(listing.texts, listing.ends), order);
    QCOMPARE(QFile::exists(file), texts.size() >= qsizetype(kRememberedFrom));
    QCOMPARE(RememberedOrder(file, listing.ends.size()).OrderOf(listing.texts, listing.ends), order);
}

// The remembered order is taken only for the very listing it was made for;
// every other file, damaged, cut short, foreign or made for other texts,
// gives the sorted order and is replaced. Whether a file was taken shows in
// its inode: one that was not is written anew under a new one.
void tst_DialogLayer::rememberedOrderServesOnlyItsListing()
{
    QStringList texts;
    for (int i = 0; i < 5000; ++i)
        texts << QStringLiteral("Eintrag %1").arg((i * 7919) % 5000);
    Listing listing = listingOf(texts);
    QTemporaryDir dir;
    const QString file = dir.filePath("kelvo.order");
    const auto inode = [&file] {
        struct stat info {};
        return ::stat(QFile::encodeName(file).constData(), &info) == 0 ? info.st_ino : ino_t(0);
    };
    const auto sorted = [&listing] { return CollatedOrder(listing.texts, listing.ends); };
    const auto remembered = [&] { return RememberedOrder(file, listing.ends.size()).OrderOf(listing.texts, listing.ends); };

    QCOMPARE(remembered(), sorted());
    const ino_t written = inode();
    QVERIFY(written != 0);
    QCOMPARE(remembered(), sorted());
    QCOMPARE(inode(), written);
    // The file is read when the order is made, before the listing is there
    // to check it against: what was read is what counts.
    RememberedOrder readAhead(file, listing.ends.size());
    QVERIFY(QFile::remove(file));
    QCOMPARE(readAhead.OrderOf(listing.texts, listing.ends), sorted());
    QVERIFY(!QFile::exists(file));
    QCOMPARE(remembered(), sorted());
    const ino_t rewritten = inode();
    QVERIFY(rewritten != 0);

    // Another label where the first was: same count, other order.
    texts[0] = QStringLiteral("Aaa");
    listing = listingOf(texts);
    QCOMPARE(remembered(), sorted());
    QVERIFY(inode() != rewritten);

    const auto damaged = [&](const std::function<void(QByteArray &)> &damage) {
        QFile out(file);
        QVERIFY(out.open(QIODevice::ReadWrite));
        QByteArray content = out.readAll();
        damage(content);
        QVERIFY(out.resize(0));
        out.write(content);
        out.close();
        const ino_t before = inode();
        QCOMPARE(remembered(), sorted());
        QVERIFY(inode() != before);
    };
    // Two places of the order swapped: still a permutation, but not the one written.
    damaged([](QByteArray &content) {
        const QByteArray first = content.mid(40, 4);
        content.replace(40, 4, content.mid(44, 4));
        content.replace(44, 4, first);
    });
    damaged([](QByteArray &content) { content.chop(4); });
    damaged([](QByteArray &content) { content[0] = 'X'; });
    damaged([](QByteArray &content) { content.fill('\x01'); });
    // The same texts cut otherwise are another listing.
    listing.ends[10] += 1;
    const ino_t before = inode();
    QCOMPARE(remembered(), sorted());
    QVERIFY(inode() != before);

    // Another program's pipe or link at its place is neither waited for nor
    // followed: the listing is sorted, and the file left as it is.
    QVERIFY(QFile::remove(file));
    QCOMPARE(mkfifo(QFile::encodeName(file).constData(), 0600), 0);
    QCOMPARE(RememberedOrder(file, listing.ends.size()).OrderOf(listing.texts, listing.ends), sorted());
    QVERIFY(QFile::remove(file));
    const QString elsewhere = dir.filePath("elsewhere.order");
    QCOMPARE(remembered(), sorted());
    QVERIFY(QFile::rename(file, elsewhere));
    QVERIFY(QFile::link(elsewhere, file));
    QCOMPARE(remembered(), sorted());
    QVERIFY(!QFileInfo(file).isSymLink());
    QVERIFY(QFile::remove(elsewhere));

    // A file that claims more texts than the book can hold is not read: a
    // forged header of 200 million texts costs neither time nor memory.
    QCOMPARE(remembered(), sorted());
    {
        QFile forged(file);
        QVERIFY(forged.open(QIODevice::ReadWrite));
        const quint32 count = 200'000'000;
        forged.seek(12);
        forged.write(reinterpret_cast<const char *>(&count), sizeof count);
        QVERIFY(forged.resize(40 + qint64(count) * 4));
    }
    std::optional<AddressSpaceLimit> limit;
    if (!KELVO_UNDER_ASAN)
        limit.emplace(rlim_t(256) << 20);
    RememberedOrder forgedOrder(file, listing.ends.size());
    limit.reset();
    QCOMPARE(forgedOrder.OrderOf(listing.texts, listing.ends), sorted());
    // What a writer killed before its rename left goes once it is old.
    QFile left(file + ".a1B2c3");
    QVERIFY(left.open(QIODevice::WriteOnly));
    QVERIFY(left.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
    left.close();
    QCOMPARE(remembered(), sorted());
    QVERIFY(!left.exists());

    // Where nothing can be written the listing is sorted all the same.
    QCOMPARE(RememberedOrder(dir.filePath("fehlt/kelvo.order"), listing.ends.size()).OrderOf(listing.texts, listing.ends), sorted());
    QVERIFY(!QFile::exists(dir.filePath("fehlt")));
    // And no half-written files are left behind.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"kelvo.order"});
}

// The in-place changes after the dialog's own add, edit and delete give the
// list a full listing of the changed table would give.
void tst_DialogLayer::inPlaceChangesEqualAFreshListing()
{
    const QStringList words = {"Müller", "müller", "Mueller", "Übung", "ubung", "", "Straße", "strasse", "Z"};
    QRandomGenerator *random = &testRandom();
    QStringList table;  // the labels in row order; the index is the ordinal
    for (int i = 0; i < 60; ++i)
        table << words[random->bounded(words.size())];
    auto lines = [](const SortedLinesModel &model) {
        QStringList result;
        for (int i = 0; i < model.GetCount(); ++i)
            result << model.GetText(i) + '=' + QString::number(model.GetItemData(i));
        return result;
    };
    auto fill = [](SortedLinesModel &model, const QStringList &labels) {
        const Listing listing = listingOf(labels);
        model.AddTexts(listing.texts, listing.ends);
    };
    auto fresh = [&](const QStringList &labels) {
        SortedLinesModel model;
        fill(model, labels);
        return lines(model);
    };
    SortedLinesModel live;
    fill(live, table);
    for (int step = 0; step < 100; ++step) {
        const int action = random->bounded(3);
        if (action == 0 || table.isEmpty()) {  // add: a new row at the end
            const QString label = words[random->bounded(words.size())];
            table << label;
            live.InsertListed(label, qint32(table.size() - 1));
        } else {
            const int line = random->bounded(live.GetCount());
            const qint32 ordinal = live.GetItemData(line);
            live.RemoveLine(line);
            if (action == 1) {  // delete
                table.removeAt(ordinal);
                live.CloseGap(ordinal);
            } else {  // edit the label
                table[ordinal] = words[random->bounded(words.size())];
                live.InsertListed(table[ordinal], ordinal);
            }
        }
        QCOMPARE(lines(live), fresh(table));
    }
}

// A batch fill resets the model, which makes QComboBox select its first
// line; the drop-down list does not offer one.
template<typename Control>
concept HasBatchFill = requires(Control control) { control.AddLines({}); };
static_assert(HasBatchFill<CListBox>);
static_assert(!HasBatchFill<CComboBox>);

void tst_DialogLayer::comboStartsWithoutSelection()
{
    CComboBox combo;
    QCOMPARE(combo.GetCurSel(), -1);
    QCOMPARE(combo.AddString("b"), 0);
    QCOMPARE(combo.AddString("a"), 0);
    QCOMPARE(combo.GetCurSel(), -1);
    combo.SetCurSel(1);
    QCOMPARE(combo.GetText(combo.GetCurSel()), QStringLiteral("b"));
    combo.ResetContent();
    QCOMPARE(combo.GetCurSel(), -1);
}

void tst_DialogLayer::messageBoxes_data()
{
    QTest::addColumn<unsigned>("flags");
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("answer");
    QTest::newRow("OK box") << 0u << "enter" << IDOK;
    QTest::newRow("Yes default: Enter") << 0x24u << "enter" << IDYES;
    QTest::newRow("Yes default: No clicked") << 0x24u << "no" << IDNO;
    QTest::newRow("No default: Enter") << 0x124u << "enter" << IDNO;
    QTest::newRow("No default: Yes clicked") << 0x124u << "yes" << IDYES;
    QTest::newRow("Escape answers No") << 0x24u << "escape" << IDNO;
}

void tst_DialogLayer::messageBoxes()
{
    QFETCH(unsigned, flags);
    QFETCH(QString, how);
    QFETCH(int, answer);
    QApplication::setApplicationDisplayName("Ostrel");
    whenModal([flags, how](QWidget *widget) {
        auto *box = qobject_cast<QMessageBox *>(widget);
        QVERIFY(box);
        QCOMPARE(box->windowTitle(), QStringLiteral("Ostrel"));
        QCOMPARE(box->text(), QStringLiteral("Wirklich?"));
        QCOMPARE(box->icon(), flags & 0x20 ? QMessageBox::Question : QMessageBox::NoIcon);
        if (how == "enter")
            QTest::keyClick(box, Qt::Key_Return);
        else if (how == "escape")
            QTest::keyClick(box, Qt::Key_Escape);
        else
            QTest::mouseClick(box->button(how == "yes" ? QMessageBox::Yes : QMessageBox::No), Qt::LeftButton);
    });
    QCOMPARE(ShowMessageBox(nullptr, "Wirklich?", flags), answer);
}

void tst_DialogLayer::templatesHaveEveryControl()
{
    for (const DialogTemplate &t : KelvoTemplates()) {
        CDialog dialog(t.id);
        QVERIFY(dialog.Create());
        QCOMPARE(dialog.windowTitle(), QString::fromUtf8(t.caption));
        QWidget *previous = nullptr;
        for (const ControlTemplate &c : t.controls) {
            if (c.id == kNoControlId)
                continue;
            QWidget *widget = child(&dialog, c.id);
            QVERIFY2(widget, qPrintable(QStringLiteral("%1/%2").arg(t.id).arg(c.id)));
            if (auto *button = qobject_cast<QPushButton *>(widget)) {
                // The template's text, with an access key.
                QCOMPARE(QString(button->text()).remove(QLatin1Char('&')), QString::fromUtf8(c.text));
                QCOMPARE(button->isDefault(), c.id == 1);
            }
            if (auto *edit = qobject_cast<QLineEdit *>(widget)) {
                QCOMPARE(edit->isReadOnly(), bool(c.style & ControlStyle::ReadOnly));
                if (c.style & ControlStyle::Centered)
                    QCOMPARE(edit->alignment() & Qt::AlignHCenter, Qt::AlignHCenter);
            }
            // Template order is tab order, and positions keep their proportions.
            if (previous)
                QCOMPARE(nextTabStop(previous), widget);
            previous = widget;
        }
        QStringList labels;
        for (auto *label : dialog.findChildren<QLabel *>())
            labels << QString(label->text()).remove(QLatin1Char('&'));
        for (auto *group : dialog.findChildren<QGroupBox *>())
            labels << group->title();
        for (const ControlTemplate &c : t.controls) {
            if (c.id == kNoControlId)
                QVERIFY2(labels.contains(QString::fromUtf8(c.text)), c.text);
        }
    }
    // Every button and every label of a field has an access key of its own.
    for (const DialogTemplate &t : KelvoTemplates()) {
        CDialog dialog(t.id);
        QVERIFY(dialog.Create());
        QStringList keys;
        for (QWidget *control : dialog.findChildren<QWidget *>()) {
            auto *label = qobject_cast<QLabel *>(control);
            auto *button = qobject_cast<QPushButton *>(control);
            if (!button && !(label && label->buddy()))
                continue;
            const QKeySequence key = QKeySequence::mnemonic(button ? button->text() : label->text());
            QVERIFY2(!key.isEmpty() && !keys.contains(key.toString()), qPrintable(control->objectName()));
            keys << key.toString();
        }
    }
    // Geometry comes from dialog units: OK sits right of Abbrechen, below the list.
    CDialog book(kServerBookTemplate);
    QVERIFY(book.Create());
    QVERIFY(child(&book, 1)->x() > child(&book, 2)->x());
    QVERIFY(child(&book, 1)->y() > child(&book, 3000)->geometry().bottom());
    QCOMPARE(child(&book, 3003)->x(), child(&book, 3005)->x());
    // OK's right edge lies at 288 of 295 units, its bottom at 205 of 212.
    QVERIFY(qAbs((child(&book, 1)->geometry().right() + 1) / double(book.width()) - 288.0 / 295) < 0.01);
    QVERIFY(qAbs((child(&book, 1)->geometry().bottom() + 1) / double(book.height()) - 205.0 / 212) < 0.01);
    QVERIFY(child<QListView>(&book, 3000));
}

void tst_DialogLayer::templatesRenderNonBlank()
{
    for (const DialogTemplate &t : KelvoTemplates()) {
        CDialog dialog(t.id);
        QVERIFY(dialog.Create());
        dialog.show();
        const QImage image = dialog.grab().toImage();
        QVERIFY(!image.isNull());
        QSet<QRgb> colours;
        for (int y = 0; y < image.height(); y += 3)
            for (int x = 0; x < image.width(); x += 3)
                colours.insert(image.pixel(x, y));
        QVERIFY2(colours.size() > 4, qPrintable(QString::number(t.id)));
        dialog.hide();
    }
}

QTEST_MAIN(tst_DialogLayer)
#include "tst_dialoglayer.moc"
