#include "sortedlinesmodel.h"

#include <QCollatorSortKey>

#include <algorithm>
#include <numeric>

SortedLinesModel::SortedLinesModel(QObject *parent)
    : QAbstractListModel(parent), m_collator(QLocale(QLocale::German, QLocale::Germany))
{
    m_collator.setCaseSensitivity(Qt::CaseInsensitive);
}

int SortedLinesModel::AddString(const QString &text)
{
    // After every equal text, so equal texts keep the order they came in.
    const auto at = std::upper_bound(m_lines.begin(), m_lines.end(), text,
                                     [this](const QString &t, const Line &line) {
                                         return m_collator.compare(t, line.text) < 0;
                                     });
    const int position = int(at - m_lines.begin());
    beginInsertRows({}, position, position);
    m_lines.insert(at, Line{text, 0});
    endInsertRows();
    return position;
}

void SortedLinesModel::AddLines(std::vector<Line> lines)
{
    // Sort keys make each comparison a byte compare; a stable sort keeps equal
    // texts in the order given, and merging after the present lines puts them
    // after equal texts already there, as one-by-one insertion would.
    std::vector<QCollatorSortKey> keys;
    keys.reserve(lines.size());
    for (const Line &line : lines)
        keys.push_back(m_collator.sortKey(line.text));
    std::vector<int> order(lines.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&keys](int a, int b) { return keys[size_t(a)].compare(keys[size_t(b)]) < 0; });
    keys = {};

    std::vector<Line> sorted;
    sorted.reserve(m_lines.size() + lines.size());
    auto present = m_lines.begin();
    for (int i : order) {
        Line &line = lines[size_t(i)];
        while (present != m_lines.end() && m_collator.compare(present->text, line.text) <= 0)
            sorted.push_back(std::move(*present++));
        sorted.push_back(std::move(line));
    }
    std::move(present, m_lines.end(), std::back_inserter(sorted));

    beginResetModel();
    m_lines = std::move(sorted);
    endResetModel();
}

void SortedLinesModel::ResetContent()
{
    beginResetModel();
    m_lines.clear();
    endResetModel();
}

QString SortedLinesModel::GetText(int index) const
{
    return isValid(index) ? m_lines[size_t(index)].text : QString();
}

qint32 SortedLinesModel::GetItemData(int index) const
{
    return isValid(index) ? m_lines[size_t(index)].data : -1;
}

bool SortedLinesModel::SetItemData(int index, qint32 data)
{
    if (!isValid(index))
        return false;
    m_lines[size_t(index)].data = data;
    return true;
}

int SortedLinesModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : GetCount();
}

QVariant SortedLinesModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || !isValid(index.row()))
        return {};
    const Line &line = m_lines[size_t(index.row())];
    switch (role) {
    case Qt::DisplayRole:
        return line.text;
    case Qt::UserRole:
        return line.data;
    default:
        return {};
    }
}
