#pragma once

#include "centrysearch.h"
#include "cserverbookstore.h"

#include <QDialog>
#include <QString>

#include <memory>
#include <optional>
#include <thread>

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

// "Eintrag suchen": one text field, and below it the entries whose label,
// address or start directory contain what is typed, case and accents
// aside. The book is read for the search in a thread of its own, so the
// dialog takes typing at once; each keystroke then searches the whole book.
// What a match shows is read from the book as it is shown, so that another
// program's change shows too (and a match that no longer matches goes).
class CSearchDialog : public QDialog
{
public:
    // The most matches shown at once; more ask for a closer search.
    static constexpr int kMostShown = 200;

    // Searches the book open in store, which shows the matches; starts with
    // text, the last search's.
    CSearchDialog(CServerBookStore &store, const QString &text, QWidget *parent);
    ~CSearchDialog() override;

    struct Chosen {
        qint64 rowid = -1;
        CServerBookStore::Entry shown;
    };
    // The entry chosen with OK, Enter or a double click, as it was shown.
    std::optional<Chosen> ChosenEntry() const;
    QString SearchText() const;
    // The book as the search read it, for finding the next match later;
    // null until it was read.
    std::shared_ptr<const CEntrySearch> Index() const { return m_index; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void IndexRead(std::shared_ptr<const CEntrySearch> index, const QString &problem);
    void ShowMatches();
    void ShowStatus(const QString &text);

    CServerBookStore &m_store;
    QLineEdit *m_text = nullptr;
    QTreeWidget *m_matches = nullptr;
    QLabel *m_status = nullptr;
    QPushButton *m_ok = nullptr;
    std::shared_ptr<const CEntrySearch> m_index;
    // Last, so that it ends (and stops posting) before anything else goes.
    std::jthread m_reader;
};
