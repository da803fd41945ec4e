#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "metainfo/torrent_summary.h"
#include "storage/selection_record.h"

namespace torrent
{

// What a row of the file choice list stands for; the first column shows it.
enum class file_row_kind : std::uint8_t
{
    not_chosen = 0, // toggles to chosen
    kept = 1, // chosen before the dialog opened (or the one file of a single-file torrent)
    chosen = 2, // chosen in this dialog; toggles to not_chosen
    folder = 3, // heading row of a folder of the torrent
};

// The first-column text of a row kind: "", "√", "    √", "    --".
[[nodiscard]] std::string_view file_row_mark(file_row_kind kind) noexcept;

struct file_row
{
    file_row_kind kind = file_row_kind::not_chosen;
    // A file: two blanks for each folder level, then its file name. A folder: its last
    // component.
    std::string name;
    std::string size_text; // FormatSize of the file's size; "" for a folder
    std::uint64_t size = 0;
    std::int32_t file = -1; // the file's index in metainfo order; -1 for a folder
};

struct file_group
{
    std::uint32_t count = 0;
    std::uint64_t size = 0;
};

// A file as the list may show it: its path below the torrent's folder ('/'-separated).
struct listed_file
{
    std::string path;
    std::uint64_t size = 0;
    // Padding of a hybrid torrent: never shown, never counted, its bit chosen.
    bool padding = false;
};

// The files of a multi-file summary as the list sees them. Padding entries (an empty last
// path component and no bytes) are marked as such.
[[nodiscard]] std::vector<listed_file> listed_files(const torrent_summary& summary);

enum class file_save_result : std::uint8_t
{
    inert = 0, // nothing to save: a single-file torrent, or the torrent could not be read
    unchanged = 1, // nothing changed: the dialog stays open
    stored = 2, // the new choice is in the torrent's state file
    store_failed = 3, // the choice changed but its state file could not be written
};

// The file choice list of one task without the widgets: its rows, the select-all toggle,
// the three totals (all files, chosen files, files newly chosen) and saving into the
// torrent's ".ZRV" state file. A file chosen before the list opened cannot be taken out.
//
// Owner: the file selection dialog. Runs on: the window's thread.
class file_selection_model
{
public:
    // Reads the torrent's file list with the light reader and its stored choice from the
    // state file located under save_folder (data_folder: where state files of torrents
    // without a content folder live). False when the torrent cannot be read: the list
    // stays empty and inert.
    bool
    load(const std::string& torrent_path, const std::string& save_folder, const std::string& data_folder);

    // The same from a summary already read and the stored choice (no array: none stored);
    // save() writes under the given folders.
    void build(
        const torrent_summary& summary,
        const selection_record& stored,
        const std::string& save_folder,
        const std::string& data_folder);

    [[nodiscard]] const std::vector<file_row>& rows() const noexcept { return m_rows; }

    [[nodiscard]] const std::string& name() const noexcept { return m_name; }

    // Set for a multi-file torrent; without it Save does nothing.
    [[nodiscard]] bool list_loaded() const noexcept { return m_list_loaded; }

    [[nodiscard]] const file_group& all_files() const noexcept { return m_all; }

    [[nodiscard]] const file_group& selected_files() const noexcept { return m_selected; }

    [[nodiscard]] const file_group& changed_files() const noexcept { return m_changed; }

    // Double click: a not-chosen file becomes chosen and back; kept files and folders stay.
    // True when the row changed.
    bool toggle(std::size_t row);

    // Header click: flips the select-all flag; set, every not-chosen file becomes chosen;
    // clear, every file chosen in this dialog is not chosen again.
    void toggle_all();

    [[nodiscard]] bool select_all() const noexcept { return m_select_all; }

    // Applies the rows to the stored choice (a new choice starts with no file chosen), and
    // when that changed anything writes it to the state file. When no file is chosen at all,
    // every file is chosen.
    [[nodiscard]] file_save_result save();

    // The choice as stored when the list opened, and as saved once save() answered stored
    // or store_failed: what a running task of the torrent is to download from then on.
    [[nodiscard]] const selection_record& selection() const noexcept { return m_selection; }

private:
    void set_kind(file_row& row, file_row_kind kind);

    std::string m_save_folder;
    std::string m_data_folder;
    std::string m_name;
    std::uint32_t m_file_count = 0;
    bool m_list_loaded = false;
    bool m_select_all = false;
    selection_record m_selection;
    std::vector<bool> m_padding; // per file index
    std::vector<file_row> m_rows;
    file_group m_all;
    file_group m_selected;
    file_group m_changed;
};

} // namespace torrent
