#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "app/prompt.h"

// A Prompt whose answers are given in advance; every text it was shown is kept. A question
// without a prepared answer fails the test and is answered Cancel.
class ScriptedPrompt final : public Prompt
{
public:
    std::deque<Answer> closeAnswers;
    std::deque<bool> okAnswers;
    std::deque<QString> torrentFiles;
    std::deque<QString> folders;
    // Runs for every file selection (tests write the selection record there).
    std::function<bool(
        const std::string& torrent, const std::string& save, torrent::selection_record& chosen)>
        onSelectFiles;

    std::vector<QString> informed;
    std::vector<QString> warned;
    std::vector<QString> asked;
    int fileSelections = 0;

    Answer askYesNoCancel(QWidget*, const QString& text) override;
    bool askOkCancel(QWidget*, const QString& text) override;

    void inform(QWidget*, const QString& text) override { informed.push_back(text); }

    void warn(QWidget*, const QString& text) override { warned.push_back(text); }

    QString openTorrentFile(QWidget*, const QString& folder) override;
    QString chooseFolder(QWidget*, const QString& title, const QString& current) override;
    bool selectFiles(
        QWidget*,
        const std::string& torrent,
        const std::string& save,
        const std::string& dataFolder,
        torrent::selection_record& chosen) override;
};
