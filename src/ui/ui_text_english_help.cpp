// The English help pages. Each page starts with a line break ('\r'); paragraphs are
// indented with two ideographic spaces (U+3000), as in the Chinese pages.
#include "ui/ui_text_english.h"

namespace torrent::detail
{

const std::array<std::string_view, ui_help_page_count> english_help_pages = {
    // 0: overview
    "\r　　Zorvik is a small, portable BitTorrent client that speaks many languages: every text it shows "
    "is kept in the language file \"Zorvik.res\" in the data folder \"My Zorvik\", one text per line. "
    "Translate this file with a text editor (UTF-8 or GB18030) and start the program again to see the "
    "translated texts.\r　　It uses very little memory and processor time, so it can run in the background "
    "for a long time.\r　　Besides the mouse, the common operations have shortcut keys; see \"Function keys "
    "and controls\".",

    // 1: UPnP port mapping
    "\r　　UPnP NAT automatic port mapping: when the router supports UPnP, the program asks it in the "
    "background to map the listening port to this computer, so that users outside can connect in as "
    "well.\r　　This feature is on by default; it can be turned off with the option -noupnp, or in "
    "\"Settings......\".",

    // 2: internal and external addresses
    "\r　　Internal and external address detection: the program finds this computer's internal and "
    "external addresses and writes them into its own user id (peer id).\r　　So two copies of Zorvik "
    "behind the same firewall (in the same local network) connect to each other directly over their "
    "internal addresses, without a detour through the outside network.",

    // 3: mapped buffers
    "\r　　Self-adjusting read and write buffers: files are read and written through memory-mapped "
    "blocks the size of the torrent's pieces, which are released as soon as they are no longer used."
    "\r　　So there is no buffer size to set; the program adjusts itself.",

    // 4: choosing the content
    "\r　　Choosing what to download: before, during and after a download you can choose which files of "
    "the torrent to download.\r　　A new task first shows the window \"Select the files to download\"; "
    "later, a double click on the first column of the task in the task list opens it again. Files "
    "already chosen can be added to, but not taken back.",

    // 5: listening port
    "\r　　Listening port: by default a listening port between 5000 and 64999 is chosen at random at "
    "every start; when that port is taken, the following ports are tried in turn.\r　　The port can also "
    "be given with the option -port, for example -port6881.",

    // 6: connecting and listening
    "\r　　Adaptive balance between connecting out and listening: the number of outgoing connections "
    "tried at the same time has an upper limit, at first two thirds of the maximum connections per "
    "task.\r　　Each time a user from outside connects in, this limit is lowered a little (down to about "
    "6), leaving room for incoming connections; while the UPnP port mapping has not succeeded and "
    "nobody connects in, the limit gradually rises again.",

    // 7: rate limits
    "\r　　Upload and download speed limits: the total upload speed and the total download speed of all "
    "tasks can be limited separately. By default the upload speed is limited to 30KB/s and the "
    "download speed is not limited.\r　　Set them with the options -us and -ds (in KB/s), or in "
    "\"Settings......\".",

    // 8: seeding time
    "\r　　When a task has finished downloading it keeps uploading (seeding) for a while, 30 minutes by "
    "default. While it uploads, \"Time left\" shows the upload time that remains; when the time is up "
    "the task stops by itself.\r　　Set the upload time with the option -ut (in minutes).",

    // 9: display snapshots
    "\r　　Display snapshots: the window does not read the data of the downloads directly; it reads a "
    "snapshot of each task's state at regular intervals, every 1500 milliseconds by default, and "
    "redraws only what changed, so the display costs almost nothing.\r　　Set the interval with the "
    "option -msel (in milliseconds, above 200).",

    // 10: resuming without a scan
    "\r　　Resuming without a scan: the progress of each task is kept in a download state file named "
    "after the torrent's info-hash, so a task started again goes on downloading at once, without "
    "scanning the data already downloaded.\r　　Once the download state file has been deleted, the next "
    "start of the task first checks the data already on the disk.\r　　This also lets you finish a "
    "download that another BT program left unfinished: set the save path to its old folder, and the "
    "program checks the data that is there and then downloads only what is missing.",

    // 11: buttons and keys
    "\r　　[SaveTo]: choose the default save path; new tasks are saved there.\r　　[Go]: open a torrent file "
    "(.torrent), choose the files to download and start a new task.\r　　[TAB]: switch to the next "
    "running task.\r　　Enter: switch to the next window layout.\r　　Also: F1 help, F2 switch between "
    "task-list mode and single-task mode, F3 window on top, F4 show only the information of all "
    "tasks, Esc hide in the system tray.",

    // 12: modes and layouts
    "\r　　The window has two modes: task-list mode (one row per task) and single-task mode (one row per "
    "user connected to the current task). Press F2 or right-click the status area at the top left to "
    "switch between them.\r　　Each mode has several layouts: task-list mode alternates between \"single "
    "line\" and \"single line with list\"; single-task mode goes through \"compact\", \"single line\", "
    "\"single line with list\", \"standard\" and \"user size\" in turn.\r　　Press Enter or double-click "
    "an empty part of the window to switch to the next layout. Drag the window's border to get a "
    "layout of your own size.",

    // 13: parts of the window
    "\r　　The window is made of these parts:\r　　Status area: the symbol at the top left.\r　　Buttons: "
    "[SaveTo], [Go] and [x].\r　　Non-list area: the status and name bar and the figures with their "
    "captions.\r　　List area: the task list or the user list.\r　　Menu: right-click in the list.",

    // 14: the status area
    "\r　　Status area: while tasks run, the arrow keeps turning; while a UPnP port mapping is needed, two "
    "squares join the turning arrows.\r　　Right-click the status area to switch between task-list mode "
    "and single-task mode (as F2 does). In the single-line layout, a right click on the status area "
    "shows or hides the [Go] and [SaveTo] buttons.",

    // 15: the non-list area
    "\r　　In the non-list area (the empty parts of the window):\r　　Left button held down and dragged: "
    "moves the window.\r　　Left double click: next layout.\r　　Right click: in single-task mode while "
    "tasks "
    "run, the next running task; otherwise the next layout.\r　　Middle click: in single-task mode while "
    "tasks run, the previous running task; otherwise the next layout.",

    // 16: the list area in task-list mode
    "\r　　In the list area in task-list mode:\r　　A left click selects a task; a double click on the "
    "task's first column opens the window \"Select the files to download\".\r　　Right-click a task for "
    "its menu: start or stop the task, delete the task or its download state record, open the folder "
    "it is saved in or the folder holding the torrent, switch to this task in single-task mode, and "
    "more; a right click on an empty part of the list opens a menu with only the items that concern "
    "no particular task.",

    // 17: sorting
    "\r　　Click a column header to sort by that column; click it again to sort in the opposite order."
    "\r　　Click the \"Time left\" header to make the \"Name\" column show, in turn, the task name, the "
    "torrent path and the save path.\r　　Click the \"Done\" header to switch the list's scroll bars in "
    "turn.",

    // 18: opening folders
    "\r　　Hold Shift (or the right button) and click with the left button: opens the folder the task is "
    "saved in.\r　　Hold Ctrl (or the middle button) and click with the left button: opens the folder "
    "holding the torrent.",

    // 19: single-task mode
    "\r　　In single-task mode: press the Tab key or click the right button to switch to the next running "
    "task; click the middle button to switch to the previous running task.\r　　Click a column header to "
    "sort the user list.",

    // 20: command-line parameters
    "\r　　Zorvik can be configured with command-line options. Option names are not case-sensitive, and "
    "a value follows its option name directly, with no blank between them: for example -tc5, not -tc "
    "5.\r　　The start options (-tc, -pc, -port) take effect only when the program starts. The run-time "
    "options can change a Zorvik that is already running: start another Zorvik with -set and the "
    "options to change; they are handed to the running Zorvik, and the program just started ends at "
    "once.",

    // 21: first example
    "\r　　Example one:\r　　zorvik -tc3 -pc40 -us50\r　　Runs at most 3 tasks at the same time with at most "
    "40 "
    "connections each; the total upload speed is limited to 50KB/s, the download speed is not "
    "limited.",

    // 22: -tc and -pc
    "\r　　-tc: the most tasks that run at the same time, from 1 to 10, 10 by default; a value out of "
    "range gives the default.\r　　-pc: the most connections per task, from 5 to 255, 64 by default; a "
    "value out of range gives the default.\r　　These two take effect only at start; values saved in "
    "\"Settings......\" (tasks from 1 to 10, connections above 10) win over the command line.",

    // 23: -us, -ut and -ds
    "\r　　-us: the total upload speed limit in KB/s, from 1 to 1000000, 30 by default; 0 or a value out "
    "of range means no limit.\r　　-ut: how long a task keeps uploading after its download is complete, "
    "in minutes, 30 by default.\r　　-ds: the total download speed limit in KB/s; without this option "
    "the download speed is not limited (a download limit saved in \"Settings......\" no longer applies "
    "either).",

    // 24: -port and -msel
    "\r　　-port: the listening port. When it is not given or is 0, a port between 5000 and 64999 is "
    "chosen at random; when the port is taken, the following ports are tried in turn. It takes "
    "effect only at start.\r　　-msel: the refresh interval of the display in milliseconds, above 200, "
    "1500 by default.",

    // 25: -noupnp, -nm and -np
    "\r　　-noupnp: no UPnP automatic port mapping.\r　　-nm: no timed minimising of the window (by default "
    "the window is minimised and restored about once an hour, to free memory).\r　　-np: no confirmation "
    "prompt when deleting a task.\r　　These three are set again every time the options are applied: "
    "leaving one out turns its feature on.",

    // 26: -set
    "\r　　-set: hands the run-time options of this command line (-us, -ds, -ut, -noupnp, -nm, -np, "
    "-msel) to the Zorvik already running, which shows what was changed; the program started this "
    "time ends at once.\r　　Note: -ds, -noupnp, -nm and -np are set again even when they are not given "
    "(downloads not limited; UPnP, timed minimising and the delete prompt all on). -tc, -pc and -port "
    "cannot be changed with -set.",

    // 27: second example
    "\r　　Example two:\r　　zorvik -tc10 -pc64 -port6881 -noupnp -msel1000\r　　At most 10 tasks with 64 "
    "connections each, listening from port 6881 on, no UPnP port mapping, and the display refreshed "
    "every 1000 milliseconds.",

    // 28: third example, with -set
    "\r　　Example three:\r　　zorvik -set -us100 -ds500 -ut60\r　　Changes the upload limit of the running "
    "Zorvik to 100KB/s and its download limit to 500KB/s, and makes it keep uploading for 60 minutes "
    "after a download is complete; UPnP, timed minimising and the delete prompt are all turned on as "
    "well.",

    // 29: the data folder
    "\r　　The data folder \"My Zorvik\" is in the user's \"Documents\" folder by default; when the "
    "program's own folder holds a folder \"My Zorvik\", that one is used (handy on a portable drive)."
    "\r　　It holds the task list file \"Zorvik.dat\" (all tasks and settings, shared by every Zorvik) and "
    "the tracker favourites file \"trackerFavorite.txt\", as well as the language file \"Zorvik.res\", "
    "the download state files of single-file torrents and the folder \"torrent\" where torrent files "
    "are kept.",

    // 30: tracker favourites
    "\r　　Write one tracker address (http://...) per line in \"trackerFavorite.txt\". Every task reads "
    "this file when it starts and announces to these trackers as well as to those in its torrent."
    "\r　　When the file does not exist it is created with 6 default addresses; lines of 3 characters or "
    "fewer are ignored.",

    // 31: UPnP detection
    "\r　　UPnP detection: once the network is up, the program asks the router for a port mapping every 5 "
    "seconds in the background. On success the status bar shows \"UPnP mapping created!\" with the "
    "external address and port, and a chime sounds; if it never succeeds, it finally shows \"UPnP "
    "failed!\".\r　　Once the mapping has succeeded, the sign \"∞\" is shown in front of the name bar.",

    // 32: torrent links
    "\r　　When you click a torrent link on a web page or open a torrent file (.torrent) in the file "
    "manager while Zorvik is running, the torrent is handed to the running Zorvik and becomes a new "
    "task.\r　　These torrent files are copied into the folder \"torrent\" of the data folder and kept "
    "there. Zorvik registers itself as the program that opens torrent files every time it starts.",

    // 33: forcing a new scan
    "\r　　If you doubt the data already downloaded, delete the task's download state file (the menu item "
    "\"Delete the download state record\"); the next start of the task scans and checks the data on "
    "the disk again.\r　　The download state file of a single-file torrent is in the data folder, that of "
    "a multi-file torrent in the torrent's folder under the save path; its name is the torrent's "
    "info-hash.",

    // 34: several copies
    "\r　　Several copies of Zorvik may run at the same time, each running up to 10 tasks, and they share "
    "one task list.\r　　\"♀\" means that the task is running; a task that another Zorvik is using cannot "
    "be started or deleted here.",
};

} // namespace torrent::detail
