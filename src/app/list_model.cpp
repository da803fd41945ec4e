#include "app/list_model.h"

#include <algorithm>

ListModel::ListModel(QObject* parent)
    : QAbstractTableModel(parent)
{
}

void ListModel::reset(const QStringList& headers)
{
    beginResetModel();
    m_headers = headers;
    m_rows.clear();
    endResetModel();
}

void ListModel::setHeader(int column, const QString& text)
{
    if (column < 0 || column >= m_headers.size() || m_headers[column] == text)
        return;
    m_headers[column] = text;
    Q_EMIT headerDataChanged(Qt::Horizontal, column, column);
}

int ListModel::appendRow(std::uintptr_t key)
{
    const int row = static_cast<int>(m_rows.size());
    beginInsertRows(QModelIndex(), row, row);
    m_rows.push_back(Row{key, std::vector<QString>(static_cast<std::size_t>(m_headers.size()))});
    endInsertRows();
    return row;
}

void ListModel::removeRow(int row)
{
    if (row < 0 || row >= static_cast<int>(m_rows.size()))
        return;
    beginRemoveRows(QModelIndex(), row, row);
    m_rows.erase(m_rows.begin() + row);
    endRemoveRows();
}

int ListModel::rowOf(std::uintptr_t key) const
{
    for (std::size_t i = 0; i < m_rows.size(); ++i)
    {
        if (m_rows[i].key == key)
            return static_cast<int>(i);
    }
    return -1;
}

bool ListModel::setCell(int row, int column, const QString& text)
{
    if (row < 0 || row >= static_cast<int>(m_rows.size()) || column < 0 || column >= m_headers.size())
        return false;
    QString& cell = m_rows[static_cast<std::size_t>(row)].cells[static_cast<std::size_t>(column)];
    if (cell == text)
        return false;
    cell = text;
    ++m_writes;
    const QModelIndex at = index(row, column);
    Q_EMIT dataChanged(at, at, {Qt::DisplayRole});
    return true;
}

const QString& ListModel::cell(int row, int column) const
{
    return m_rows[static_cast<std::size_t>(row)].cells[static_cast<std::size_t>(column)];
}

void ListModel::reorder(const std::vector<int>& order)
{
    if (order.size() != m_rows.size())
        return;
    Q_EMIT layoutAboutToBeChanged();
    std::vector<Row> rows;
    rows.reserve(m_rows.size());
    for (const int old : order)
        rows.push_back(std::move(m_rows[static_cast<std::size_t>(old)]));
    m_rows = std::move(rows);
    Q_EMIT layoutChanged();
}

int ListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int ListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_headers.size());
}

QVariant ListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= static_cast<int>(m_rows.size())
        || index.column() >= m_headers.size())
        return {};
    if (role == Qt::DisplayRole)
        return cell(index.row(), index.column());
    if (role == Qt::TextAlignmentRole)
    {
        const bool left = std::find(m_left.begin(), m_left.end(), index.column()) != m_left.end();
        return QVariant::fromValue((left ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter);
    }
    return {};
}

QVariant ListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0
        || section >= m_headers.size())
        return {};
    return m_headers[section];
}
