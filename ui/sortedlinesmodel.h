#pragma once

#include "rememberedorder.h"

#include <QAbstractListModel>
#include <QCollator>

#include <vector>

// The lines of a sorted list box or drop-down list: texts in German,
// case-insensitive order, equal texts in the order they were added, and one
// 32-bit item data per line.
//
// The texts stand back to back in one string and each line is a small
// record pointing into it, so that a list of a million lines costs little
// more memory than its text.
class SortedLinesModel : public QAbstractListModel
{
    Q_OBJECT

public:
    struct Line {
        QString text;
        qint32 data = 0;
    };

    explicit SortedLinesModel(QObject *parent = nullptr);

    // Inserts text at its sorted position and returns that position.
    int AddString(const QString &text);
    // Adds many lines at once, exactly as AddString and SetItemData one by one
    // would, at a fraction of the cost.
    void AddLines(std::vector<Line> lines);
    // The same for lines whose texts stand back to back in texts, line i
    // ending at ends[i], each with its index i as item data: a listing.
    // With remembered, a large listing's order is kept in its file between
    // calls.
    void AddTexts(QString texts, const std::vector<quint32> &ends, RememberedOrder remembered = {});
    // Inserts text where a listing with that item data would put it: among
    // equal texts in the order of their item data. Returns the position.
    int InsertListed(const QString &text, qint32 data);
    void RemoveLine(int index);
    // Moves every item data above data down by one: the row of data left a
    // listing, and the rows after it moved up.
    void CloseGap(qint32 data);
    // Gives every line the item data newOfOld[its item data]; removes the
    // lines whose new item data is -1. For a listing taken in as changed.
    void Renumber(const std::vector<qint32> &newOfOld);
    // Whether line index reads text, without copying it.
    bool HasText(int index, QStringView text) const { return isValid(index) && textOf(m_lines[size_t(index)]) == text; }
    void ResetContent();
    int GetCount() const { return int(m_lines.size()); }
    QString GetText(int index) const;
    // -1 for an index outside the lines, -1 included.
    qint32 GetItemData(int index) const;
    bool SetItemData(int index, qint32 data);
    // The first line with that item data; -1 when there is none.
    int FindItemData(qint32 data) const;

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;

private:
    struct Span {
        quint32 start;
        quint32 length;
        qint32 data;
    };
    QStringView textOf(const Span &span) const { return QStringView(m_text).mid(span.start, span.length); }
    bool isValid(int index) const { return index >= 0 && index < GetCount(); }
    Span appendText(QStringView text, qint32 data);
    void addBatch(QString texts, const std::vector<quint32> &ends, const std::vector<qint32> *data,
                  const std::vector<uint32_t> &order);

    QCollator m_collator;
    // Every line's text, and text of removed lines until the next reset.
    QString m_text;
    std::vector<Span> m_lines;
};

// The line operations of the sorted controls; each control inherits them
// privately and offers those that fit it.
class SortedLinesControl
{
public:
    int AddString(const QString &text) { return m_lines->AddString(text); }
    void AddLines(std::vector<SortedLinesModel::Line> lines) { m_lines->AddLines(std::move(lines)); }
    void AddTexts(QString texts, const std::vector<quint32> &ends, RememberedOrder remembered = {})
    {
        m_lines->AddTexts(std::move(texts), ends, std::move(remembered));
    }
    int InsertListed(const QString &text, qint32 data) { return m_lines->InsertListed(text, data); }
    void RemoveLine(int index) { m_lines->RemoveLine(index); }
    void CloseGap(qint32 data) { m_lines->CloseGap(data); }
    void Renumber(const std::vector<qint32> &newOfOld) { m_lines->Renumber(newOfOld); }
    bool HasText(int index, QStringView text) const { return m_lines->HasText(index, text); }
    int GetCount() const { return m_lines->GetCount(); }
    QString GetText(int index) const { return m_lines->GetText(index); }
    qint32 GetItemData(int index) const { return m_lines->GetItemData(index); }
    bool SetItemData(int index, qint32 data) { return m_lines->SetItemData(index, data); }
    int FindItemData(qint32 data) const { return m_lines->FindItemData(data); }

protected:
    explicit SortedLinesControl(SortedLinesModel *lines) : m_lines(lines) {}
    SortedLinesModel *m_lines;
};
