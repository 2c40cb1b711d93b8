#include "csearchdialog.h"

#include "modalaccessibility.h"
#include "rememberedsize.h"
#include "storeerror.h"

#include <QCollator>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

enum Column { Label, Server, StartDir };
constexpr int kRowIdRole = Qt::UserRole;
constexpr int kPluginFileRole = Qt::UserRole + 1;

} // namespace

CSearchDialog::CSearchDialog(CServerBookStore &store, const QString &text, QWidget *parent)
    : QDialog(parent), m_store(store)
{
    setWindowTitle(QStringLiteral("Eintrag suchen"));
    MarkForScreenReaders(this);
    // Made in reading order, which is the order a screen reader reads them in.
    auto *prompt = new QLabel(QStringLiteral("&Suchen nach:"), this);
    m_text = new QLineEdit(text, this);
    m_matches = new QTreeWidget(this);
    m_status = new QLabel(this);
    prompt->setBuddy(m_text);
    m_text->setObjectName(QStringLiteral("searchText"));
    m_matches->setObjectName(QStringLiteral("matches"));
    m_matches->setAccessibleName(QStringLiteral("Gefundene Einträge"));
    m_matches->setAccessibleDescription(
        QStringLiteral("Tasten: Auf, Ab: durch die Treffer; Eingabe oder Doppelklick: Eintrag wählen; Esc: Abbrechen"));
    m_matches->setRootIsDecorated(false);
    m_matches->setHeaderLabels({QStringLiteral("Bezeichnung"), QStringLiteral("Adresse"),
                                QStringLiteral("Startverzeichnis")});
    m_matches->header()->setSectionResizeMode(QHeaderView::Stretch);
    // Up and Down in the text field walk the matches, as in a find-as-you-type box.
    m_text->installEventFilter(this);

    auto *buttons = new QDialogButtonBox(this);
    m_ok = buttons->addButton(QStringLiteral("&OK"), QDialogButtonBox::AcceptRole);
    m_ok->setDefault(true);
    buttons->addButton(QStringLiteral("&Abbrechen"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_matches, &QTreeWidget::itemActivated, this, &QDialog::accept);
    connect(m_matches, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem *line) { m_ok->setEnabled(line != nullptr); });
    connect(m_text, &QLineEdit::textChanged, this, [this] { ShowMatches(); });

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(prompt);
    layout->addWidget(m_text);
    layout->addWidget(m_matches);
    layout->addWidget(m_status);
    layout->addWidget(buttons);
    resize(620, 360);
    new RememberedSize(this, QStringLiteral("Eintrag suchen"));
    m_text->selectAll();
    m_text->setFocus();
    m_ok->setEnabled(false);
    ShowStatus(QStringLiteral("Das Serverbook wird gelesen …"));

    // Its own connection, in its own thread: nothing of the store's is shared.
    const QString file = store.File();
    m_reader = std::jthread([this, file](std::stop_token stop) {
        std::shared_ptr<const CEntrySearch> index;
        QString problem;
        try {
            CServerBookStore own;
            own.Open(file);
            index = std::make_shared<const CEntrySearch>(CEntrySearch::Read(own, stop));
        } catch (const StoreError &error) {
            problem = error.message();
        } catch (const std::exception &error) {
            problem = QString::fromUtf8(error.what());
        }
        if (!stop.stop_requested())
            QMetaObject::invokeMethod(this, [this, index, problem] { IndexRead(index, problem); }, Qt::QueuedConnection);
    });
}

CSearchDialog::~CSearchDialog() = default;

void CSearchDialog::IndexRead(std::shared_ptr<const CEntrySearch> index, const QString &problem)
{
    if (!index) {
        ShowStatus(QStringLiteral("Das Serverbook kann nicht durchsucht werden: %1").arg(problem));
        return;
    }
    m_index = std::move(index);
    ShowMatches();
}

// Lists the matches of the text as the book holds them now, by label; the
// first is chosen, so that Enter takes it.
void CSearchDialog::ShowMatches()
{
    if (!m_index)
        return;
    m_matches->clear();
    const QString text = m_text->text();
    if (text.trimmed().isEmpty()) {
        ShowStatus(QStringLiteral("Bitte einen Teil der Bezeichnung, der Adresse oder des Startverzeichnisses "
                                         "eingeben."));
        return;
    }
    // Twice what is shown, for matches another program changed meanwhile.
    const CEntrySearch::Found found = m_index->Find(text, 2 * kMostShown);
    struct Shown {
        qint64 rowid;
        CServerBookStore::Entry entry;
    };
    std::vector<Shown> shown;
    int gone = 0;
    try {
        for (size_t i = 0; i < found.first.size() && shown.size() < size_t(kMostShown); ++i) {
            const qint64 rowid = m_index->RowIdAt(found.first[i]);
            const std::optional<CServerBookStore::Entry> entry = m_store.EntryWithRowId(rowid);
            if (entry && CEntrySearch::Matches(text, entry->label, entry->server, entry->startDir))
                shown.push_back({rowid, *entry});
            else
                ++gone;
        }
    } catch (const StoreError &error) {
        ShowStatus(error.message());
        return;
    }
    QCollator collator{QLocale(QLocale::German, QLocale::Germany)};
    std::stable_sort(shown.begin(), shown.end(),
                     [&collator](const Shown &a, const Shown &b) { return collator.compare(a.entry.label, b.entry.label) < 0; });
    for (const Shown &match : shown) {
        auto *line = new QTreeWidgetItem(m_matches, {match.entry.label, match.entry.server, match.entry.startDir});
        line->setData(Label, kRowIdRole, match.rowid);
        line->setData(Label, kPluginFileRole, match.entry.pluginFile);
    }
    const qsizetype matching = qsizetype(found.count) - gone;
    if (shown.empty())
        ShowStatus(QStringLiteral("Kein Eintrag enthält \"%1\".").arg(text.trimmed()));
    else if (matching > qsizetype(shown.size()))
        ShowStatus(QStringLiteral("Die ersten %1 von %2 Treffern; bitte genauer suchen.")
                              .arg(shown.size())
                              .arg(matching));
    else
        ShowStatus(shown.size() == 1 ? QStringLiteral("1 Treffer") : QStringLiteral("%1 Treffer").arg(shown.size()));
    m_matches->setCurrentItem(m_matches->topLevelItem(0));
}

// The status line says what the search found. The text field, where the
// user types, carries it as its description as well: a screen reader speaks
// a change of the focused field's description, and a label's change it
// does not, so the count is heard as it changes.
void CSearchDialog::ShowStatus(const QString &text)
{
    m_status->setText(text);
    m_text->setAccessibleDescription(text);
}

bool CSearchDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_text && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down || key == Qt::Key_PageUp || key == Qt::Key_PageDown) {
            QCoreApplication::sendEvent(m_matches, event);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

std::optional<CSearchDialog::Chosen> CSearchDialog::ChosenEntry() const
{
    const QTreeWidgetItem *line = m_matches->currentItem();
    if (!line)
        return std::nullopt;
    return Chosen{line->data(Label, kRowIdRole).toLongLong(),
                  {line->text(Label), line->text(Server), line->text(StartDir),
                   line->data(Label, kPluginFileRole).toString()}};
}

QString CSearchDialog::SearchText() const
{
    return m_text->text();
}
