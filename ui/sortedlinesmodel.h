#pragma once

#include <QAbstractListModel>
#include <QCollator>

#include <vector>

// The lines of a sorted list box or drop-down list: texts in German,
// case-insensitive order, equal texts in the order they were added, and one
// 32-bit item data per line.
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
    void ResetContent();
    int GetCount() const { return int(m_lines.size()); }
    QString GetText(int index) const;
    // -1 for an index outside the lines, -1 included.
    qint32 GetItemData(int index) const;
    bool SetItemData(int index, qint32 data);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;

private:
    bool isValid(int index) const { return index >= 0 && index < GetCount(); }

    QCollator m_collator;
    std::vector<Line> m_lines;
};

// The line operations of the sorted controls; each control inherits them
// privately and offers those that fit it.
class SortedLinesControl
{
public:
    int AddString(const QString &text) { return m_lines->AddString(text); }
    void AddLines(std::vector<SortedLinesModel::Line> lines) { m_lines->AddLines(std::move(lines)); }
    int GetCount() const { return m_lines->GetCount(); }
    QString GetText(int index) const { return m_lines->GetText(index); }
    qint32 GetItemData(int index) const { return m_lines->GetItemData(index); }
    bool SetItemData(int index, qint32 data) { return m_lines->SetItemData(index, data); }

protected:
    explicit SortedLinesControl(SortedLinesModel *lines) : m_lines(lines) {}
    SortedLinesModel *m_lines;
};
