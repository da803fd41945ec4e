#pragma once

#include <string>

#include <QString>

#include "storage/selection_record.h"

class QWidget;

// Every question the window asks the user and every box it shows goes through a Prompt,
// so tests answer in advance what a person would click. Texts arrive as the text table
// has them ('\r' line breaks); showing them is the Prompt's business.
// Runs on: the window's thread.
class Prompt
{
public:
    enum class Answer
    {
        Yes,
        No,
        Cancel,
    };

    virtual ~Prompt() = default;

    // Yes, No and Cancel (the close prompt).
    virtual Answer askYesNoCancel(QWidget* parent, const QString& text) = 0;
    // OK (true) or Cancel (the delete confirmations).
    virtual bool askOkCancel(QWidget* parent, const QString& text) = 0;
    // An information box (the -set confirmation, the network information).
    virtual void inform(QWidget* parent, const QString& text) = 0;
    // A warning box (no network, no save folder, a task that cannot start, the port).
    virtual void warn(QWidget* parent, const QString& text) = 0;
    // The file-open dialog for a .torrent; "" when cancelled.
    virtual QString openTorrentFile(QWidget* parent, const QString& folder) = 0;
    // The folder browser; "" when cancelled.
    virtual QString chooseFolder(QWidget* parent, const QString& title, const QString& current) = 0;
    // The file selection of a torrent (stored in its state file); true when a changed
    // choice was stored, which is then in `chosen` for a task that already runs.
    virtual bool selectFiles(
        QWidget* parent,
        const std::string& torrentPath,
        const std::string& saveFolder,
        const std::string& dataFolder,
        torrent::selection_record& chosen) = 0;
};

// The real boxes and dialogs.
class DialogPrompt final : public Prompt
{
public:
    DialogPrompt() = default;
    Answer askYesNoCancel(QWidget* parent, const QString& text) override;
    bool askOkCancel(QWidget* parent, const QString& text) override;
    void inform(QWidget* parent, const QString& text) override;
    void warn(QWidget* parent, const QString& text) override;
    QString openTorrentFile(QWidget* parent, const QString& folder) override;
    QString chooseFolder(QWidget* parent, const QString& title, const QString& current) override;
    bool selectFiles(
        QWidget* parent,
        const std::string& torrentPath,
        const std::string& saveFolder,
        const std::string& dataFolder,
        torrent::selection_record& chosen) override;
};
