#pragma once

#include <cstdint>
#include <vector>

#include <QAbstractTableModel>
#include <QString>
#include <QStringList>

// The cells of the task list control as texts, one row per task or per peer. Cells are
// written only by the list's refresh and only when their text changes, so a view redraws
// just what changed; data() reads the stored text and nothing else.
// Owner: the task list control. Runs on: the window's thread.
class ListModel final : public QAbstractTableModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ListModel)

public:
    explicit ListModel(QObject* parent = nullptr);

    // Drops every row and column and puts in the given headers.
    void reset(const QStringList& headers);
    void setHeader(int column, const QString& text);

    // Columns whose texts start at the left (names, paths, addresses); the others are
    // figures, aligned right.
    void setLeftAligned(std::vector<int> columns) { m_left = std::move(columns); }

    // Appends a row of empty cells carrying `key` (the owner's reference to what the row
    // shows); returns its index.
    int appendRow(std::uintptr_t key);
    void removeRow(int row);

    [[nodiscard]] std::uintptr_t key(int row) const { return m_rows[static_cast<std::size_t>(row)].key; }

    // The row carrying `key`, or -1.
    [[nodiscard]] int rowOf(std::uintptr_t key) const;

    // Writes a cell; true (and the view told) only when the text changed.
    bool setCell(int row, int column, const QString& text);
    [[nodiscard]] const QString& cell(int row, int column) const;

    // Puts the rows in a new order: `order[i]` is the old index of the new row i.
    void reorder(const std::vector<int>& order);

    // Cells whose text changed since the model was made (tests count redraws with it).
    [[nodiscard]] std::uint64_t cellWrites() const noexcept { return m_writes; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    struct Row
    {
        std::uintptr_t key = 0;
        std::vector<QString> cells;
    };

    QStringList m_headers;
    std::vector<Row> m_rows;
    std::uint64_t m_writes = 0;
    std::vector<int> m_left;
};
