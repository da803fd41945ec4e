#pragma once

#include <QObject>
#include <QString>

// Tells the desktop that a download is complete, through the freedesktop notification
// service on the session bus. Fire and forget: the window never waits for an answer, and
// without a session bus nothing happens.
// Owner: the main window. Runs on: the window's thread.
class DesktopNotifier final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DesktopNotifier)

public:
    explicit DesktopNotifier(QObject* parent = nullptr);

    void downloadComplete(const QString& name, const QString& folder);

    // Notifications sent so far (tests).
    [[nodiscard]] int sent() const noexcept { return m_sent; }

private:
    int m_sent = 0;
};
