#include "app/file_selection_dialog.h"

#include <QAbstractTableModel>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include "ui/number_format.h"
#include "ui/ui_text.h"

using torrent::file_row;
using torrent::file_save_result;

namespace
{

QString text_of(std::string_view utf8)
{
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

QString ui(torrent::uitext::id id)
{
    return text_of(torrent::ui_text(id));
}

QLabel* make_label(QWidget* parent, const char* id, const QString& text = {})
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(id));
    return label;
}

} // namespace

// The rows of the file choice model as a three-column table: mark, shown name, size.
class FileSelectionDialog::table_model final : public QAbstractTableModel
{
public:
    table_model(const torrent::file_selection_model& model, QObject* parent)
        : QAbstractTableModel(parent)
        , m_model(model)
    {
    }

    Q_DISABLE_COPY_MOVE(table_model)

    int rowCount(const QModelIndex& parent) const override
    {
        return parent.isValid() ? 0 : static_cast<int>(m_model.rows().size());
    }

    int columnCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : 3; }

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid() || static_cast<std::size_t>(index.row()) >= m_model.rows().size())
            return {};
        const file_row& row = m_model.rows()[static_cast<std::size_t>(index.row())];
        if (role == Qt::TextAlignmentRole && index.column() == 2)
            return QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
        if (role != Qt::DisplayRole)
            return {};
        switch (index.column())
        {
        case 0:
            return text_of(torrent::file_row_mark(row.kind));
        case 1:
            return text_of(row.name);
        default:
            return text_of(row.size_text);
        }
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
            return {};
        static constexpr torrent::uitext::id headers[] = {
            torrent::uitext::column_select,
            torrent::uitext::column_file_name,
            torrent::uitext::column_file_size};
        return section >= 0 && section < 3 ? ui(headers[section]) : QVariant();
    }

    // Every cell of `row` (or of every row) shows its current kind.
    void row_changed(int row) { Q_EMIT dataChanged(index(row, 0), index(row, 2)); }

    void all_changed()
    {
        if (rowCount({}) > 0)
            Q_EMIT dataChanged(index(0, 0), index(rowCount({}) - 1, 2));
    }

private:
    const torrent::file_selection_model& m_model;
};

FileSelectionDialog::FileSelectionDialog(
    const std::string& torrent_path,
    const std::string& save_folder,
    const std::string& data_folder,
    QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("d130"));
    setWindowTitle(ui(torrent::uitext::file_select_title));
    setSizeGripEnabled(true);
    m_model.load(torrent_path, save_folder, data_folder);

    // The three groups and "Save" above the list; the list takes whatever the dialog's
    // size leaves below them.
    auto* groups = new QGridLayout;

    const struct
    {
        const char* caption_id;
        torrent::uitext::id caption;
        const char* count_id;
        const char* size_caption_id;
        const char* size_id;
        QLabel** count;
        QLabel** size;
    } rows[] = {
        {"c1028",
         torrent::uitext::file_select_file_count,
         "c1034",
         "c1035",
         "c1029",
         &m_all_count,
         &m_all_size},
        {"c1036",
         torrent::uitext::file_select_selected,
         "c1030",
         "c1037",
         "c1031",
         &m_selected_count,
         &m_selected_size},
        {"c1032",
         torrent::uitext::file_select_changed,
         "c1038",
         "c1039",
         "c1033",
         &m_changed_count,
         &m_changed_size},
    };

    int line = 0;
    for (const auto& r : rows)
    {
        groups->addWidget(make_label(this, r.caption_id, ui(r.caption)), line, 0);
        *r.count = make_label(this, r.count_id);
        groups->addWidget(*r.count, line, 1, Qt::AlignRight);
        groups->addWidget(
            make_label(this, r.size_caption_id, ui(torrent::uitext::file_select_size)), line, 2);
        *r.size = make_label(this, r.size_id);
        groups->addWidget(*r.size, line, 3, Qt::AlignRight);
        ++line;
    }
    groups->setColumnStretch(4, 1);
    m_save = new QPushButton(QStringLiteral("Save"), this);
    m_save->setObjectName(QStringLiteral("c1043"));
    m_save->setDefault(true);
    groups->addWidget(m_save, 0, 5, 3, 1, Qt::AlignRight | Qt::AlignVCenter);

    m_table = new table_model(m_model, this);
    m_list = new QTableView(this);
    m_list->setObjectName(QStringLiteral("c1010"));
    m_list->setModel(m_table);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setShowGrid(true);
    m_list->setWordWrap(false);
    m_list->verticalHeader()->hide();
    m_list->verticalHeader()->setDefaultSectionSize(m_list->fontMetrics().height() + 6);
    QHeaderView* header = m_list->horizontalHeader();
    header->setSectionsClickable(true);
    header->setHighlightSections(false);
    header->setStretchLastSection(false);
    header->resizeSection(0, 45);
    header->resizeSection(1, 310);
    header->resizeSection(2, 60);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(groups);
    layout->addWidget(m_list, 1);
    resize(45 + 310 + 60 + 2 * m_list->frameWidth() + 2 * layout->contentsMargins().left() + 20, 360);

    connect(
        m_list,
        &QAbstractItemView::doubleClicked,
        this,
        [this](const QModelIndex& i) { on_double_click(i.row()); });
    connect(header, &QHeaderView::sectionClicked, this, [this](int) { on_header_click(); });
    connect(m_save, &QPushButton::clicked, this, &FileSelectionDialog::on_save);

    m_all_count->setText(QString::number(m_model.all_files().count));
    m_all_size->setText(text_of(torrent::FormatSize(m_model.all_files().size)));
    show_groups();
}

FileSelectionDialog::~FileSelectionDialog() = default;

void FileSelectionDialog::show_groups()
{
    m_selected_count->setText(QString::number(m_model.selected_files().count));
    m_selected_size->setText(text_of(torrent::FormatSize(m_model.selected_files().size)));
    m_changed_count->setText(QString::number(m_model.changed_files().count));
    m_changed_size->setText(text_of(torrent::FormatSize(m_model.changed_files().size)));
}

void FileSelectionDialog::on_double_click(int row)
{
    if (row < 0 || !m_model.toggle(static_cast<std::size_t>(row)))
        return;
    m_table->row_changed(row);
    show_groups();
}

void FileSelectionDialog::on_header_click()
{
    m_model.toggle_all();
    m_table->all_changed();
    show_groups();
}

void FileSelectionDialog::on_save()
{
    const file_save_result result = m_model.save();
    if (result == file_save_result::inert || result == file_save_result::unchanged)
        return; // nothing to store: the dialog stays open
    m_last_save = result;
    accept();
}
