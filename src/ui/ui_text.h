#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace torrent
{

// Number of entries of the user-interface text table.
inline constexpr std::size_t ui_text_count = 140;

// Entries 0..34 are the help pages; entry 35 is the empty end marker after them.
inline constexpr std::size_t ui_help_page_count = 35;

// Indices of the user-interface texts. Plain enumerators so that they convert to an index
// wherever one is expected: ui_text(uitext::network_not_connected).
namespace uitext
{
enum id : std::uint8_t
{
    help_first = 0,
    help_end_marker = 35,
    topic_features = 36,
    topic_keys = 37,
    topic_options = 38,
    topic_tips = 39,
    network_not_connected = 40,
    choose_save_folder_first = 41,
    cannot_start_task = 42,
    delete_task_failed = 43,
    delete_task_in_use = 44,
    open_file_failed = 45,
    listen_bind_failed = 46,
    delete_state_file_failed = 47,
    close_prompt = 48,
    delete_prompt = 49,
    delete_task_confirm = 50,
    delete_state_file_confirm = 51,
    delete_torrent_confirm = 52,
    stop_task_confirm = 53,
    tracker_peer_count = 54,
    runtime_options_reset = 55,
    max_upload_speed_is = 56,
    max_download_speed_is = 57,
    upload_timeout_minutes_is = 58,
    refresh_period_ms_is = 59,
    upnp_reset = 60,
    timed_minimise_allowed = 61,
    delete_prompt_allowed = 62,
    network_connected = 63,
    network_probing = 64,
    upnp_created = 65,
    upnp_failed = 66,
    legend = 67,
    column_mark = 68,
    column_name = 69,
    column_torrent_path = 70,
    column_save_path = 71,
    column_time_left = 72,
    column_size = 73,
    column_completion = 74,
    column_peers = 75,
    column_download_speed = 76,
    column_downloaded = 77,
    column_upload_speed = 78,
    column_uploaded = 79,
    column_pieces_owned = 80,
    column_address = 81,
    column_client = 82,
    column_select = 83,
    column_file_name = 84,
    column_file_size = 85,
    caption_file_size = 86,
    caption_time_left = 87,
    caption_download_speed = 88,
    caption_upload_speed = 89,
    caption_connections = 90,
    caption_completion = 91,
    caption_downloaded = 92,
    caption_uploaded = 93,
    download_complete = 94,
    stopped = 95,
    task_counts = 96,
    settings_after_restart = 97,
    settings_max_tasks = 98,
    settings_max_connections = 99,
    settings_per_task = 100,
    settings_after_saving = 101,
    settings_max_download_speed = 102,
    settings_max_upload_speed = 103,
    settings_max_upload_time = 104,
    settings_minutes = 105,
    settings_refresh = 106,
    settings_milliseconds = 107,
    settings_timed_minimise = 108,
    settings_delete_prompt = 109,
    settings_upnp = 110,
    menu_single_task_mode = 111,
    menu_start_task = 112,
    menu_stop_task = 113,
    menu_delete_task = 114,
    menu_delete_state = 115,
    menu_delete_task_and_state = 116,
    menu_delete_all = 117,
    menu_open_save_folder = 118,
    menu_open_torrent_folder = 119,
    menu_change_save_folder = 120,
    menu_new_task = 121,
    menu_topmost = 122,
    menu_all_tasks_only = 123,
    menu_timed_minimise = 124,
    menu_sound_off = 125,
    menu_open_data_folder = 126,
    menu_network_info = 127,
    menu_settings = 128,
    menu_help = 129,
    yes = 130,
    no = 131,
    internal_network = 132,
    external_network = 133,
    file_select_title = 134,
    file_select_size = 135,
    file_select_file_count = 136,
    file_select_selected = 137,
    file_select_changed = 138,
    help_title = 139,
};
} // namespace uitext

// One complete set of the 140 texts (UTF-8). Entries may hold '\r' as a line break but
// never '\n', so each entry is one line of the language file.
class ui_text_table
{
public:
    // A table filled with the built-in texts.
    ui_text_table();

    [[nodiscard]] const std::string& operator[](std::size_t index) const;
    void set(std::size_t index, std::string text);

    friend bool operator==(const ui_text_table&, const ui_text_table&) = default;

private:
    std::array<std::string, ui_text_count> m_entries;
};

// The built-in (Chinese) text of an entry; "" for an index outside the table.
[[nodiscard]] std::string_view builtin_ui_text(std::size_t index) noexcept;

// The text in use for an entry: the built-in text until a table is installed, then the
// installed one; "" for an index outside the table. Safe from any thread; the view stays
// valid for the life of the process.
[[nodiscard]] std::string_view ui_text(std::size_t index) noexcept;

// Makes `table` the process-wide text table. Meant to run once at start-up, before other
// threads read texts; a later call is still safe for readers (earlier tables are kept, so
// views handed out before stay valid).
void install_ui_text(ui_text_table table);

} // namespace torrent
