#include "ui/file_selection_model.h"

#include <set>

#include "ui/number_format.h"

namespace torrent
{

std::string_view file_row_mark(file_row_kind kind) noexcept
{
    switch (kind)
    {
    case file_row_kind::not_chosen:
        return "";
    case file_row_kind::kept:
        return "√";
    case file_row_kind::chosen:
        return "    √";
    case file_row_kind::folder:
        return "    --";
    }
    return "";
}

std::vector<listed_file> listed_files(const torrent_summary& summary)
{
    std::vector<listed_file> out;
    out.reserve(summary.files.size());
    const std::size_t prefix = summary.name.size() + 1; // "name/"
    for (const summary_file& f : summary.files)
    {
        listed_file& row = out.emplace_back();
        row.path = f.display_path.size() > prefix ? f.display_path.substr(prefix) : std::string();
        row.size = f.size;
        row.padding = f.size == 0 && (row.path.empty() || row.path.back() == '/');
    }
    return out;
}

void file_selection_model::set_kind(file_row& row, file_row_kind kind)
{
    const bool was = row.kind == file_row_kind::chosen;
    const bool now = kind == file_row_kind::chosen;
    row.kind = kind;
    if (was == now)
        return;
    for (file_group* g : {&m_selected, &m_changed})
    {
        if (now)
        {
            g->count += 1;
            g->size += row.size;
        }
        else
        {
            g->count -= 1;
            g->size -= row.size;
        }
    }
}

bool file_selection_model::load(
    const std::string& torrent_path, const std::string& save_folder, const std::string& data_folder)
{
    *this = file_selection_model();
    torrent_summary summary;
    if (read_torrent_summary(torrent_path, summary) != summary_result::ok)
        return false;
    selection_record stored;
    if (summary.multi_file)
        ReadStateFile(stored, LocateStateFile(save_folder, summary.name, data_folder));
    build(summary, stored, save_folder, data_folder);
    return true;
}

void file_selection_model::build(
    const torrent_summary& summary,
    const selection_record& stored,
    const std::string& save_folder,
    const std::string& data_folder)
{
    m_save_folder = save_folder;
    m_data_folder = data_folder;
    m_name = summary.name;
    m_rows.clear();
    m_all = m_selected = m_changed = file_group{};
    m_select_all = false;
    m_padding.clear();
    m_selection.clear();
    m_file_count = 0;
    if (!summary.multi_file)
    {
        m_list_loaded = false;
        m_rows.push_back(file_row{
            file_row_kind::kept, summary.name, FormatSize(summary.total_size), summary.total_size, 0});
        m_all = m_selected = file_group{1, summary.total_size};
        return;
    }

    m_list_loaded = true;
    m_selection = stored;
    const std::vector<listed_file> files = listed_files(summary);
    m_file_count = static_cast<std::uint32_t>(files.size());
    m_padding.resize(files.size());
    std::set<std::string, std::less<>> folders_seen;
    for (std::uint32_t i = 0; i < m_file_count; ++i)
    {
        const listed_file& f = files[i];
        m_padding[i] = f.padding;
        if (f.padding)
            continue;
        m_all.count += 1;
        m_all.size += f.size;

        file_row row;
        row.file = static_cast<std::int32_t>(i);
        row.size = f.size;
        row.size_text = FormatSize(f.size);
        if (!stored.chosen(i))
            row.kind = file_row_kind::not_chosen;
        else if (!stored.has_array())
            row.kind = file_row_kind::chosen;
        else
            row.kind = file_row_kind::kept;
        if (row.kind != file_row_kind::not_chosen)
        {
            m_selected.count += 1;
            m_selected.size += f.size;
        }
        if (row.kind == file_row_kind::chosen)
        {
            m_changed.count += 1;
            m_changed.size += f.size;
        }

        // "a/b/c": a heading row "b" for the folder "a/b" the first time it is met, then
        // the file indented by two blanks per level.
        const std::size_t cut = f.path.rfind('/');
        std::size_t depth = 0;
        for (const char c : f.path)
            depth += c == '/' ? 1 : 0;
        if (cut != std::string::npos)
        {
            const std::string_view folder = std::string_view(f.path).substr(0, cut);
            if (folders_seen.insert(std::string(folder)).second)
            {
                const std::size_t up = folder.rfind('/');
                file_row heading;
                heading.kind = file_row_kind::folder;
                heading.name = std::string(up == std::string_view::npos ? folder : folder.substr(up + 1));
                m_rows.push_back(std::move(heading));
            }
        }
        row.name = std::string(2 * depth, ' ') + f.path.substr(cut == std::string::npos ? 0 : cut + 1);
        m_rows.push_back(std::move(row));
    }
}

bool file_selection_model::toggle(std::size_t row)
{
    if (row >= m_rows.size())
        return false;
    file_row& r = m_rows[row];
    if (r.kind == file_row_kind::not_chosen)
        set_kind(r, file_row_kind::chosen);
    else if (r.kind == file_row_kind::chosen)
        set_kind(r, file_row_kind::not_chosen);
    else
        return false;
    return true;
}

void file_selection_model::toggle_all()
{
    m_select_all = !m_select_all;
    const file_row_kind from = m_select_all ? file_row_kind::not_chosen : file_row_kind::chosen;
    const file_row_kind to = m_select_all ? file_row_kind::chosen : file_row_kind::not_chosen;
    for (file_row& r : m_rows)
    {
        if (r.kind == from)
            set_kind(r, to);
    }
}

file_save_result file_selection_model::save()
{
    if (!m_list_loaded)
        return file_save_result::inert;
    selection_record next = m_selection;
    bool changed = false;
    if (!next.has_array())
    {
        // A first choice starts from nothing chosen; padding stays chosen, so the pieces it
        // shares with real files are verified like any other.
        next.resize(m_file_count);
        for (std::uint32_t i = 0; i < m_file_count; ++i)
            next.set(i, m_padding[i]);
        changed = true;
    }
    for (const file_row& r : m_rows)
    {
        if (r.file < 0)
            continue;
        const auto i = static_cast<std::uint32_t>(r.file);
        if (r.kind == file_row_kind::chosen)
        {
            next.set(i, true);
            changed = true;
        }
        else if (r.kind == file_row_kind::not_chosen && next.chosen(i))
        {
            next.set(i, false);
            changed = true;
        }
    }
    if (!changed)
        return file_save_result::unchanged;
    bool any = false;
    for (std::uint32_t i = 0; i < m_file_count && !any; ++i)
        any = !m_padding[i] && next.chosen(i);
    if (!any)
        next.choose_all();
    m_selection = std::move(next);
    return WriteStateFile(m_selection, m_save_folder, m_name, m_data_folder) ? file_save_result::stored
                                                                             : file_save_result::store_failed;
}

} // namespace torrent
