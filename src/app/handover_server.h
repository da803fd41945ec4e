#pragma once

#include <map>
#include <memory>
#include <string>

#include <QObject>

#include "app/handover.h"

class QSocketNotifier;
class QTimer;

// The running copy's end of the hand-over: accepts connections of this user on its
// listening socket, reads their frames without ever blocking the window, and answers a
// command line once the window has taken it. A connection that sends nothing for the
// wait limit, or an over-long frame, is closed.
// Owner: the main window. Runs on: the window's thread.
class HandoverServer final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HandoverServer)

public:
    HandoverServer(torrent::handover_listener listener, QObject* parent);
    ~HandoverServer() override;

    [[nodiscard]] const std::string& path() const noexcept { return m_listener.path(); }

Q_SIGNALS:
    // A command line handed over; it counts as taken when the handlers return.
    void lineReceived(const std::string& line);
    // "Show yourself", as a left click on the tray icon.
    void showRequested();
    // "Come to the front".
    void foregroundRequested();

private:
    struct Connection;

    void acceptAll();
    void readFrom(int fd);
    void drop(int fd);

    torrent::handover_listener m_listener;
    QSocketNotifier* m_notifier = nullptr;
    std::map<int, std::unique_ptr<Connection>> m_connections;
};
