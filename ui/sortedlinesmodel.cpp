#include "sortedlinesmodel.h"

#include "collationsort.h"

#include <algorithm>
#include <utility>

SortedLinesModel::SortedLinesModel(QObject *parent)
    : QAbstractListModel(parent), m_collator(QLocale(QLocale::German, QLocale::Germany))
{
    m_collator.setCaseSensitivity(Qt::CaseInsensitive);
}

SortedLinesModel::Span SortedLinesModel::appendText(QStringView text, qint32 data)
{
    const Span span{quint32(m_text.size()), quint32(text.size()), data};
    m_text.append(text);
    return span;
}

int SortedLinesModel::AddString(const QString &text)
{
    // After every equal text, so equal texts keep the order they came in.
    const auto at = std::upper_bound(m_lines.begin(), m_lines.end(), text,
                                     [this](const QString &t, const Span &line) {
                                         return m_collator.compare(t, textOf(line)) < 0;
                                     });
    const int position = int(at - m_lines.begin());
    const Span span = appendText(text, 0);
    beginInsertRows({}, position, position);
    m_lines.insert(m_lines.begin() + position, span);
    endInsertRows();
    return position;
}

int SortedLinesModel::InsertListed(const QString &text, qint32 data)
{
    const auto at = std::upper_bound(m_lines.begin(), m_lines.end(), text,
                                     [this, data](const QString &t, const Span &line) {
                                         const int order = m_collator.compare(t, textOf(line));
                                         return order < 0 || (order == 0 && data < line.data);
                                     });
    const int position = int(at - m_lines.begin());
    const Span span = appendText(text, data);
    beginInsertRows({}, position, position);
    m_lines.insert(m_lines.begin() + position, span);
    endInsertRows();
    return position;
}

void SortedLinesModel::RemoveLine(int index)
{
    if (!isValid(index))
        return;
    beginRemoveRows({}, index, index);
    m_lines.erase(m_lines.begin() + index);
    endRemoveRows();
}

void SortedLinesModel::CloseGap(qint32 data)
{
    for (Span &line : m_lines) {
        if (line.data > data)
            --line.data;
    }
}

void SortedLinesModel::Renumber(const std::vector<qint32> &newOfOld)
{
    for (int index = GetCount() - 1; index >= 0; --index) {
        Span &line = m_lines[size_t(index)];
        const qint32 data = line.data >= 0 && size_t(line.data) < newOfOld.size() ? newOfOld[size_t(line.data)] : -1;
        if (data == -1)
            RemoveLine(index);
        else
            line.data = data;
    }
}

void SortedLinesModel::AddLines(std::vector<Line> lines)
{
    QString texts;
    std::vector<quint32> ends;
    std::vector<qint32> data;
    ends.reserve(lines.size());
    data.reserve(lines.size());
    for (const Line &line : lines) {
        texts += line.text;
        ends.push_back(quint32(texts.size()));
        data.push_back(line.data);
    }
    const std::vector<uint32_t> order = CollatedOrder(texts, ends);
    addBatch(std::move(texts), ends, &data, order);
}

void SortedLinesModel::AddTexts(QString texts, const std::vector<quint32> &ends, RememberedOrder remembered)
{
    const std::vector<uint32_t> order = remembered.OrderOf(texts, ends);
    addBatch(std::move(texts), ends, nullptr, order);
}

// Takes in the batch in its collated order (ties in batch order), merged
// after the present lines' equal texts, as one-by-one insertion would.
void SortedLinesModel::addBatch(QString texts, const std::vector<quint32> &ends, const std::vector<qint32> *data,
                                const std::vector<uint32_t> &order)
{
    const quint32 base = quint32(m_text.size());
    if (m_text.isEmpty())
        m_text = std::move(texts);
    else
        m_text.append(texts);

    std::vector<Span> sorted;
    sorted.reserve(m_lines.size() + order.size());
    auto present = m_lines.begin();
    for (const uint32_t i : order) {
        const quint32 start = base + (i ? ends[i - 1] : 0);
        const Span line{start, base + ends[i] - start, data ? (*data)[i] : qint32(i)};
        while (present != m_lines.end() && m_collator.compare(textOf(*present), textOf(line)) <= 0)
            sorted.push_back(*present++);
        sorted.push_back(line);
    }
    std::copy(present, m_lines.end(), std::back_inserter(sorted));

    beginResetModel();
    m_lines = std::move(sorted);
    endResetModel();
}

void SortedLinesModel::ResetContent()
{
    beginResetModel();
    m_lines.clear();
    m_lines.shrink_to_fit();
    m_text.clear();
    m_text.squeeze();
    endResetModel();
}

QString SortedLinesModel::GetText(int index) const
{
    return isValid(index) ? textOf(m_lines[size_t(index)]).toString() : QString();
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

int SortedLinesModel::FindItemData(qint32 data) const
{
    const auto found = std::find_if(m_lines.cbegin(), m_lines.cend(), [data](const Span &line) { return line.data == data; });
    return found == m_lines.cend() ? -1 : int(found - m_lines.cbegin());
}

int SortedLinesModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : GetCount();
}

QVariant SortedLinesModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || !isValid(index.row()))
        return {};
    const Span &line = m_lines[size_t(index.row())];
    switch (role) {
    case Qt::DisplayRole:
        return textOf(line).toString();
    case Qt::UserRole:
        return line.data;
    default:
        return {};
    }
}
