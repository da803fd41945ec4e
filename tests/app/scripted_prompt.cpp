#include "scripted_prompt.h"

#include <gtest/gtest.h>

Prompt::Answer ScriptedPrompt::askYesNoCancel(QWidget*, const QString& text)
{
    asked.push_back(text);
    if (closeAnswers.empty())
    {
        ADD_FAILURE() << "unexpected question: " << text.toStdString();
        return Answer::Cancel;
    }
    const Answer a = closeAnswers.front();
    closeAnswers.pop_front();
    return a;
}

bool ScriptedPrompt::askOkCancel(QWidget*, const QString& text)
{
    asked.push_back(text);
    if (okAnswers.empty())
    {
        ADD_FAILURE() << "unexpected question: " << text.toStdString();
        return false;
    }
    const bool a = okAnswers.front();
    okAnswers.pop_front();
    return a;
}

QString ScriptedPrompt::openTorrentFile(QWidget*, const QString&)
{
    if (torrentFiles.empty())
    {
        ADD_FAILURE() << "unexpected file dialog";
        return {};
    }
    QString f = torrentFiles.front();
    torrentFiles.pop_front();
    return f;
}

QString ScriptedPrompt::chooseFolder(QWidget*, const QString& title, const QString&)
{
    asked.push_back(title);
    if (folders.empty())
        return {};
    QString f = folders.front();
    folders.pop_front();
    return f;
}

bool ScriptedPrompt::selectFiles(
    QWidget*,
    const std::string& torrent,
    const std::string& save,
    const std::string&,
    torrent::selection_record& chosen)
{
    ++fileSelections;
    return onSelectFiles ? onSelectFiles(torrent, save, chosen) : false;
}
