#pragma once

#include <QDialog>

#include "ui/help_pager.h"

class QComboBox;
class QLabel;
class QPushButton;

// The help viewer's window: one help page at a time (UiText 0..34), the counter "n / 35",
// "<<" and ">>" with wrap-around, and a topic list that jumps to the first page of each of
// the four topics. Modeless; its close box and Escape only hide it. The page area is sized
// once for the longest page of the table in use, so no page is ever cut off.
//
// Objects: "c1036" page text, "c1033" counter, "c1042" topic list, "c1034" "<<",
// "c1035" ">>"; the window itself is "help".
//
// Owner: the process-wide viewer (ShowHelp), as a child of the window it was opened
// over. Runs on: the window's thread.
class HelpDialog final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HelpDialog)

public:
    HelpDialog(torrent::help_pager& pager, QWidget* parent);
    ~HelpDialog() override;

    // Shows the page the pager chose.
    void refresh();

private:
    void build();
    void size_page_area();

    torrent::help_pager& m_pager;
    QLabel* m_page = nullptr;
    QLabel* m_counter = nullptr;
    QComboBox* m_topics = nullptr;
    QPushButton* m_previous = nullptr;
    QPushButton* m_next = nullptr;
};

// The one help viewer of the process. open: creates its window over `parent` when it has
// none (on the page last viewed, the first page the first time) and shows it restored, in
// front; a hidden viewer is shown again as it was. !open: destroys the window (the main
// window hiding in the tray); the page last viewed is kept for the next opening.
// The main window calls ShowHelp(true, this) for F1, menu item 317 and the first start,
// and ShowHelp(false) when it hides in the tray.
void ShowHelp(bool open, QWidget* parent = nullptr);

// The viewer's window while it exists (shown or hidden), else null.
[[nodiscard]] HelpDialog* help_window() noexcept;
