#pragma once

#include <string>

#include <QDialog>

#include "ui/file_selection_model.h"

class QLabel;
class QPushButton;
class QTableView;

// The file choice dialog of one task: which files of a multi-file torrent are downloaded.
// Files chosen before it opened stay chosen; a double click chooses a file or takes back a
// file chosen in this dialog; a click on a column header chooses every file or takes them
// all back. "Save" stores a changed choice in the torrent's state file and ends the dialog
// with Accepted; without a change it stays open. Escape or closing ends it with Rejected.
//
// Every widget carries its control id as its objectName ("c1010" the list, "c1043" Save,
// "c1034"/"c1029" count and size of all files, "c1030"/"c1031" of the chosen files,
// "c1038"/"c1033" of the newly chosen files).
//
// Owner: whoever runs it (the main window). Runs on: the window's thread.
class FileSelectionDialog final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FileSelectionDialog)

public:
    // Reads the torrent's files and the stored choice (a torrent that cannot be read gives
    // an empty, inert list). data_folder: where state files of torrents without a content
    // folder live (the data folder).
    FileSelectionDialog(
        const std::string& torrent_path,
        const std::string& save_folder,
        const std::string& data_folder,
        QWidget* parent = nullptr);
    ~FileSelectionDialog() override;

    // The choice after an Accepted end: what a running task of the torrent is to download
    // (Task::choose_more_files takes selection().to_file_selection()).
    [[nodiscard]] const torrent::selection_record& selection() const noexcept { return m_model.selection(); }

    // What the last "Save" did (stored, or store_failed when the state file could not be
    // written: the choice still holds for the running task).
    [[nodiscard]] torrent::file_save_result last_save() const noexcept { return m_last_save; }

    [[nodiscard]] const torrent::file_selection_model& model() const noexcept { return m_model; }

private:
    void on_double_click(int row);
    void on_header_click();
    void on_save();
    void show_groups();

    class table_model;

    torrent::file_selection_model m_model;
    table_model* m_table = nullptr; // a child of the dialog
    torrent::file_save_result m_last_save = torrent::file_save_result::inert;
    QTableView* m_list = nullptr;
    QPushButton* m_save = nullptr;
    QLabel* m_all_count = nullptr;
    QLabel* m_all_size = nullptr;
    QLabel* m_selected_count = nullptr;
    QLabel* m_selected_size = nullptr;
    QLabel* m_changed_count = nullptr;
    QLabel* m_changed_size = nullptr;
};
