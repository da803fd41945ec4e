// The English texts of entries 35..139.
#include "ui/ui_text_english.h"

#include <array>

namespace torrent
{
namespace
{

constexpr std::size_t first_fixed_entry = ui_help_page_count;

// Entries 35..139 in index order.
constexpr std::array<std::string_view, ui_text_count - first_fixed_entry> english_fixed = {
    /* 35 */ "",
    /* 36 */ "Feature overview",
    /* 37 */ "Function keys and controls",
    /* 38 */ "Configuration options",
    /* 39 */ "Usage tips",
    /* 40 */ "The network is not connected; a task cannot be started!",
    /* 41 */ "First click the [SaveTo] button and choose the folder to save into.",
    /* 42 */ "No more tasks can be started; the disk may be full, or the torrent file could not be opened!",
    /* 43 */ "Deleting the task failed!",
    /* 44 */ "Deleting the task failed! The task is in use by another process!",
    /* 45 */ "Error opening the file!",
    /* 46 */ "Binding the listening port failed!",
    /* 47 */ "Deleting the download state file failed!",
    /* 48 */
    "To close the program, click [Yes]\r\rTo hide it in the system tray, click [No]\r\rTo cancel, click "
    "[Cancel]\r\r",
    /* 49 */
    "To really delete the task, click [Yes]\r\rTo delete the task's download state record, click [No]\r\r"
    "To give up deleting, click [Cancel]",
    /* 50 */ "To really delete the task, click [OK]\r\rTo give up deleting, click [Cancel]",
    /* 51 */ "To really delete the download state file, click [OK]\r\rTo give up deleting, click [Cancel]",
    /* 52 */ "To really delete the torrent file, click [OK]\r\rTo give up deleting, click [Cancel]",
    /* 53 */ "To really stop this task, click [OK]\r\rTo give up stopping the task, click [Cancel]",
    /* 54 */ "Number of IP addresses received from the tracker: ",
    /* 55 */ "The following run-time options were reset successfully:\r",
    /* 56 */ "Maximum upload speed=",
    /* 57 */ "Maximum download speed=",
    /* 58 */ "Upload time-out (minutes)=",
    /* 59 */ "Display refresh time (milliseconds)=",
    /* 60 */ "Re-set UPnP port mapping: ",
    /* 61 */ "Allow timed minimising of the window: ",
    /* 62 */ "Allow a prompt when deleting a task: ",
    /* 63 */ "Network connected, initialisation succeeded!",
    /* 64 */ "Cannot connect to the network, still probing.....",
    /* 65 */ "UPnP mapping created!",
    /* 66 */ "UPnP failed!",
    /* 67 */
    "      [F1] = Help\r[♀] the task is running\r[<>] handshake [==] waiting\r[<<] outgoing [>>] incoming\r"
    "[=|] choking [|=] choked\r[<=] uploading  [=>] downloading\r",
    /* 68 */ "^^",
    /* 69 */ "Name",
    /* 70 */ "Torrent path",
    /* 71 */ "Save path",
    /* 72 */ "Time left",
    /* 73 */ "Size",
    /* 74 */ "Done",
    /* 75 */ "Peers",
    /* 76 */ "Down speed",
    /* 77 */ "Downloaded",
    /* 78 */ "Up speed",
    /* 79 */ "Uploaded",
    /* 80 */ "Owned",
    /* 81 */ "IP address",
    /* 82 */ "Client",
    /* 83 */ "Select",
    /* 84 */ "File name",
    /* 85 */ "File size",
    /* 86 */ "Size",
    /* 87 */ "Time left",
    /* 88 */ "Down speed",
    /* 89 */ "Up speed",
    /* 90 */ "Connections",
    /* 91 */ "Completion",
    /* 92 */ "Downloaded",
    /* 93 */ "Uploaded",
    /* 94 */ "Download complete!",
    /* 95 */ "Stopped!",
    /* 96 */ "running tasks : maximum tasks",
    /* 97 */ "Effective after restart",
    /* 98 */ "Maximum tasks",
    /* 99 */ "Maximum connections",
    /* 100 */ "/ per task",
    /* 101 */ "Effective after saving",
    /* 102 */ "Maximum download speed",
    /* 103 */ "Maximum upload speed",
    /* 104 */ "Maximum upload time",
    /* 105 */ "minutes",
    /* 106 */ "Display refresh",
    /* 107 */ "milliseconds",
    /* 108 */ "Minimise the window automatically",
    /* 109 */ "Prompt when deleting a task",
    /* 110 */ "UPnP automatic port mapping",
    /* 111 */ "Switch to single-task mode  [F2]",
    /* 112 */ "Start task  [Ld]",
    /* 113 */ "Stop task  [Ld]",
    /* 114 */ "Delete the selected task  [R]",
    /* 115 */ "Delete the download state record",
    /* 116 */ "Delete the task and its download state record",
    /* 117 */ "Delete the task, the torrent and the download state record",
    /* 118 */ "Open the folder the task is saved in  [Shift+L]",
    /* 119 */ "Open the folder holding the torrent  [Ctrl+L]",
    /* 120 */ "Change the default save path",
    /* 121 */ "Start a new task",
    /* 122 */ "Window on top  [F3]",
    /* 123 */ "Show only the information of all tasks  [F4]",
    /* 124 */ "Minimise the window automatically",
    /* 125 */ "Turn sound signals off",
    /* 126 */ "Open the My Zorvik folder",
    /* 127 */ "Show the information window",
    /* 128 */ "Settings......",
    /* 129 */ "Help  [F1]",
    /* 130 */ "Yes",
    /* 131 */ "No",
    /* 132 */ "Internal network",
    /* 133 */ "External network",
    /* 134 */ "Select the files to download",
    /* 135 */ "Size",
    /* 136 */ "Files",
    /* 137 */ "Selected files",
    /* 138 */ "Changed files",
    /* 139 */ "Help",
};

} // namespace

std::string_view english_ui_text(std::size_t index) noexcept
{
    if (index < first_fixed_entry)
        return detail::english_help_pages[index];
    if (index < ui_text_count)
        return english_fixed[index - first_fixed_entry];
    return {};
}

ui_text_table english_ui_text_table()
{
    ui_text_table table;
    for (std::size_t i = 0; i < ui_text_count; ++i)
        table.set(i, std::string(english_ui_text(i)));
    return table;
}

} // namespace torrent
