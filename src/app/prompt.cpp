#include "app/prompt.h"

#include <QFileDialog>
#include <QMessageBox>

#include "app/file_selection_dialog.h"
#include "app/main_window_title.h"
#include "app/qt_text.h"

namespace
{

// Texts come with the text table's line breaks.
QString shown(const QString& text)
{
    return display_text(utf8_string(text));
}

} // namespace

Prompt::Answer DialogPrompt::askYesNoCancel(QWidget* parent, const QString& text)
{
    const auto button = QMessageBox::question(
        parent,
        mainWindowTitle(),
        shown(text),
        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
        QMessageBox::Cancel);
    if (button == QMessageBox::Yes)
        return Answer::Yes;
    return button == QMessageBox::No ? Answer::No : Answer::Cancel;
}

bool DialogPrompt::askOkCancel(QWidget* parent, const QString& text)
{
    return QMessageBox::question(
               parent,
               mainWindowTitle(),
               shown(text),
               QMessageBox::Ok | QMessageBox::Cancel,
               QMessageBox::Cancel)
        == QMessageBox::Ok;
}

void DialogPrompt::inform(QWidget* parent, const QString& text)
{
    QMessageBox::information(parent, mainWindowTitle(), shown(text));
}

void DialogPrompt::warn(QWidget* parent, const QString& text)
{
    QMessageBox::warning(parent, mainWindowTitle(), shown(text));
}

QString DialogPrompt::openTorrentFile(QWidget* parent, const QString& folder)
{
    return QFileDialog::getOpenFileName(
        parent, mainWindowTitle(), folder, QStringLiteral("BT torrent (*.torrent)"));
}

QString DialogPrompt::chooseFolder(QWidget* parent, const QString& title, const QString& current)
{
    return QFileDialog::getExistingDirectory(parent, shown(title), current, QFileDialog::ShowDirsOnly);
}

bool DialogPrompt::selectFiles(
    QWidget* parent,
    const std::string& torrentPath,
    const std::string& saveFolder,
    const std::string& dataFolder,
    torrent::selection_record& chosen)
{
    FileSelectionDialog dialog(torrentPath, saveFolder, dataFolder, parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    chosen = dialog.selection();
    return true;
}
