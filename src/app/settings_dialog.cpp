#include "app/settings_dialog.h"

#include <algorithm>
#include <string>

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/ui_text.h"

using torrent::uitext::id;

namespace
{

QString ui(id entry)
{
    const std::string_view text = torrent::ui_text(entry);
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString qt(const std::string& text)
{
    return QString::fromStdString(text);
}

// The dialog's title: the menu item's text without its trailing dots ("Settings......").
QString title_word()
{
    QString word = ui(torrent::uitext::menu_settings).trimmed();
    while (word.endsWith(QLatin1Char('.')))
        word.chop(1);
    return QStringLiteral("Zorvik - ") + word.trimmed();
}

template <class Widget>
Widget* named(Widget* widget, const char* name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QLineEdit* number_edit(QWidget* parent, const char* name)
{
    auto* edit = named(new QLineEdit(parent), name);
    edit->setMaxLength(11);
    edit->setAlignment(Qt::AlignRight);
    // Ten digits and a sign, whatever the font.
    edit->setMinimumWidth(edit->fontMetrics().horizontalAdvance(QStringLiteral("-0000000000")) + 12);
    return edit;
}

// One row of a group: caption, edit and an optional unit after it.
void add_row(QGridLayout* grid, int row, QLabel* caption, QLineEdit* edit, QLabel* unit)
{
    caption->setBuddy(edit);
    grid->addWidget(caption, row, 0);
    grid->addWidget(edit, row, 1);
    if (unit != nullptr)
        grid->addWidget(unit, row, 2);
}

} // namespace

SettingsDialog::SettingsDialog(torrent::settings_host& host, QWidget* parent)
    : QDialog(parent)
    , m_host(host)
{
    setObjectName(QStringLiteral("settings"));
    build();
    FillSettings(m_record, m_host.current_settings());
    m_shown = torrent::form_of(m_record);
    show_form(m_shown);
}

SettingsDialog::~SettingsDialog() = default;

void SettingsDialog::build()
{
    using namespace torrent::uitext;
    setWindowTitle(title_word());

    auto* restart = named(new QGroupBox(ui(settings_after_restart), this), "c1057");
    auto* restart_grid = new QGridLayout(restart);
    m_tasks = number_edit(restart, "c1059");
    m_connections = number_edit(restart, "c1061");
    add_row(restart_grid, 0, named(new QLabel(ui(settings_max_tasks), restart), "c1060"), m_tasks, nullptr);
    add_row(
        restart_grid,
        1,
        named(new QLabel(ui(settings_max_connections), restart), "c1062"),
        m_connections,
        named(new QLabel(ui(settings_per_task), restart), "c1063"));
    restart_grid->setColumnStretch(3, 1);

    auto* saved = named(new QGroupBox(ui(settings_after_saving), this), "c1058");
    auto* saved_grid = new QGridLayout(saved);
    m_download = number_edit(saved, "c1046");
    m_upload = number_edit(saved, "c1044");
    m_seeding = number_edit(saved, "c1048");
    m_refresh = number_edit(saved, "c1051");
    add_row(
        saved_grid,
        0,
        named(new QLabel(ui(settings_max_download_speed), saved), "c1047"),
        m_download,
        named(new QLabel(QStringLiteral("KB"), saved), "download_unit"));
    add_row(
        saved_grid,
        1,
        named(new QLabel(ui(settings_max_upload_speed), saved), "c1045"),
        m_upload,
        named(new QLabel(QStringLiteral("KB"), saved), "upload_unit"));
    add_row(
        saved_grid,
        2,
        named(new QLabel(ui(settings_max_upload_time), saved), "c1049"),
        m_seeding,
        named(new QLabel(ui(settings_minutes), saved), "c1050"));
    add_row(
        saved_grid,
        3,
        named(new QLabel(ui(settings_refresh), saved), "c1052"),
        m_refresh,
        named(new QLabel(ui(settings_milliseconds), saved), "c1053"));
    m_upnp = named(new QCheckBox(ui(settings_upnp), saved), "c1054");
    m_minimise = named(new QCheckBox(ui(settings_timed_minimise), saved), "c1055");
    m_confirm = named(new QCheckBox(ui(settings_delete_prompt), saved), "c1056");
    saved_grid->addWidget(m_upnp, 4, 0, 1, 4);
    saved_grid->addWidget(m_minimise, 5, 0, 1, 4);
    saved_grid->addWidget(m_confirm, 6, 0, 1, 4);
    saved_grid->setColumnStretch(3, 1);

    // The edits of both groups in one column: the caption column is as wide in both.
    int caption_width = 0;
    for (QGridLayout* grid : {restart_grid, saved_grid})
        for (int row = 0; row < 4; ++row)
            if (QLayoutItem* item = grid->itemAtPosition(row, 0);
                item != nullptr && item->widget() != nullptr)
                caption_width = std::max(caption_width, item->widget()->sizeHint().width());
    restart_grid->setColumnMinimumWidth(0, caption_width);
    saved_grid->setColumnMinimumWidth(0, caption_width);

    auto* save_button = named(new QPushButton(QStringLiteral("Save"), this), "c1");
    save_button->setDefault(true);
    connect(save_button, &QPushButton::clicked, this, &SettingsDialog::save);
    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    buttons->addWidget(save_button);

    auto* column = new QVBoxLayout(this);
    column->addWidget(restart);
    column->addWidget(saved);
    column->addLayout(buttons);
    column->setSizeConstraint(QLayout::SetFixedSize);
}

void SettingsDialog::show_form(const torrent::settings_form& form)
{
    m_tasks->setText(qt(form.max_tasks));
    m_connections->setText(qt(form.max_connections));
    m_download->setText(qt(form.download_kb));
    m_upload->setText(qt(form.upload_kb));
    m_seeding->setText(qt(form.seeding_minutes));
    m_refresh->setText(qt(form.refresh_ms));
    m_upnp->setChecked(form.upnp);
    m_minimise->setChecked(form.timed_minimise);
    m_confirm->setChecked(form.confirm_delete);
}

torrent::settings_form SettingsDialog::read_widgets() const
{
    torrent::settings_form form;
    form.max_tasks = m_tasks->text().toStdString();
    form.max_connections = m_connections->text().toStdString();
    form.download_kb = m_download->text().toStdString();
    form.upload_kb = m_upload->text().toStdString();
    form.seeding_minutes = m_seeding->text().toStdString();
    form.refresh_ms = m_refresh->text().toStdString();
    form.upnp = m_upnp->isChecked();
    form.timed_minimise = m_minimise->isChecked();
    form.confirm_delete = m_confirm->isChecked();
    return form;
}

void SettingsDialog::save()
{
    FillGeometry(m_record, m_host.current_geometry());
    if (torrent::read_form(read_widgets(), m_record) == torrent::settings_read_result::bad_refresh_period)
    {
        refuse_refresh_period();
        return;
    }
    static_cast<void>(torrent::commit_settings(m_record, m_host));
    accept();
}

void SettingsDialog::refuse_refresh_period()
{
    m_refresh->setText(qt(m_shown.refresh_ms));
    m_refresh->setFocus();
    m_refresh->selectAll();
    // The range in the table's own words: "<display refresh>: 1 - 3600000 <milliseconds>".
    const QString text = ui(torrent::uitext::settings_refresh) + QStringLiteral(": 1 - ")
        + QString::number(torrent::max_refresh_period_ms) + QLatin1Char(' ')
        + ui(torrent::uitext::settings_milliseconds);
    auto* box = new QMessageBox(QMessageBox::Warning, windowTitle(), text, QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("refresh_refused"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

bool RunSettingsDialog(torrent::settings_host& host, QWidget* parent)
{
    SettingsDialog dialog(host, parent);
    return dialog.exec() == QDialog::Accepted;
}
