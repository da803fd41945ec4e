#pragma once

#include <QDialog>

#include "app/settings_model.h"

class QCheckBox;
class QLineEdit;

// The settings dialog: the two start-time maximums (effective after a restart) and the
// run-time values (effective once saved). It shows what the window uses now; "Save" reads
// the edits with the save rules, stores the record, remembers the maximums for the exit
// and applies the run-time values at once, then ends with Accepted. A display refresh
// period outside 1..3600000 ms is refused with a message and the old value is put back;
// the dialog stays open. Escape or closing changes nothing.
//
// Every widget carries its control id as objectName: "c1059" tasks, "c1061" connections,
// "c1046" download KB, "c1044" upload KB, "c1048" seeding minutes, "c1051" refresh ms,
// "c1054" UPnP, "c1055" timed minimise, "c1056" delete prompt, "c1" Save; the labels and
// group boxes c1057 c1058 c1060 c1062 c1063 c1047 c1045 c1049 c1050 c1052 c1053. The
// refusal is a QMessageBox named "refresh_refused".
//
// Owner: whoever opens it (the main window's menu). Runs on: the window's thread.
class SettingsDialog final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SettingsDialog)

public:
    explicit SettingsDialog(torrent::settings_host& host, QWidget* parent = nullptr);
    ~SettingsDialog() override;

    // The record of the last Save (what was stored and applied).
    [[nodiscard]] const torrent::SettingsRecord& record() const noexcept { return m_record; }

private:
    void build();
    void show_form(const torrent::settings_form& form);
    [[nodiscard]] torrent::settings_form read_widgets() const;
    void save();
    void refuse_refresh_period();

    torrent::settings_host& m_host;
    torrent::SettingsRecord m_record;
    torrent::settings_form m_shown; // what the dialog opened with
    QLineEdit* m_tasks = nullptr;
    QLineEdit* m_connections = nullptr;
    QLineEdit* m_download = nullptr;
    QLineEdit* m_upload = nullptr;
    QLineEdit* m_seeding = nullptr;
    QLineEdit* m_refresh = nullptr;
    QCheckBox* m_upnp = nullptr;
    QCheckBox* m_minimise = nullptr;
    QCheckBox* m_confirm = nullptr;
};

// Menu item 316: the settings dialog, modal over `parent`; true when it was saved.
bool RunSettingsDialog(torrent::settings_host& host, QWidget* parent);
