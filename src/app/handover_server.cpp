#include "app/handover_server.h"

#include <cerrno>
#include <sys/socket.h>

#include <QSocketNotifier>
#include <QTimer>

struct HandoverServer::Connection
{
    torrent::unique_fd fd;
    torrent::handover_reader reader;
    std::unique_ptr<QSocketNotifier> notifier;
    std::unique_ptr<QTimer> idle;
};

HandoverServer::HandoverServer(torrent::handover_listener listener, QObject* parent)
    : QObject(parent)
    , m_listener(std::move(listener))
{
    if (!m_listener.valid())
        return;
    m_notifier = new QSocketNotifier(m_listener.fd(), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] { acceptAll(); });
}

HandoverServer::~HandoverServer() = default;

void HandoverServer::acceptAll()
{
    for (;;)
    {
        torrent::unique_fd fd = m_listener.accept_same_user();
        if (!fd)
            return;
        const int raw = fd.get();
        auto c = std::make_unique<Connection>();
        c->fd = std::move(fd);
        c->notifier = std::make_unique<QSocketNotifier>(raw, QSocketNotifier::Read);
        connect(c->notifier.get(), &QSocketNotifier::activated, this, [this, raw] { readFrom(raw); });
        c->idle = std::make_unique<QTimer>();
        c->idle->setSingleShot(true);
        connect(c->idle.get(), &QTimer::timeout, this, [this, raw] { drop(raw); });
        c->idle->start(torrent::handover::wait_limit_ms);
        m_connections[raw] = std::move(c);
    }
}

void HandoverServer::readFrom(int fd)
{
    const auto it = m_connections.find(fd);
    if (it == m_connections.end())
        return;
    Connection& c = *it->second;
    char buffer[4096];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (n <= 0 || !c.reader.feed(std::string_view(buffer, static_cast<std::size_t>(n))))
    {
        drop(fd);
        return;
    }
    c.idle->start(torrent::handover::wait_limit_ms);
    while (auto frame = c.reader.next())
    {
        switch (frame->type)
        {
        case torrent::handover::line_frame:
        {
            Q_EMIT lineReceived(frame->text);
            const char ack = torrent::handover::acknowledgement;
            // The connection may be gone if a handler ran a nested event loop.
            if (m_connections.find(fd) == m_connections.end())
                return;
            static_cast<void>(::send(fd, &ack, 1, MSG_NOSIGNAL | MSG_DONTWAIT));
            break;
        }
        case torrent::handover::show_frame:
            Q_EMIT showRequested();
            break;
        case torrent::handover::foreground_frame:
            Q_EMIT foregroundRequested();
            break;
        default:
            break;
        }
        if (m_connections.find(fd) == m_connections.end())
            return;
    }
}

void HandoverServer::drop(int fd)
{
    const auto it = m_connections.find(fd);
    if (it == m_connections.end())
        return;
    // Deleted later: this may run inside one of the connection's own signals.
    std::unique_ptr<Connection> c = std::move(it->second);
    m_connections.erase(it);
    c->notifier->setEnabled(false);
    c->idle->stop();
    QSocketNotifier* notifier = c->notifier.release();
    QTimer* idle = c->idle.release();
    notifier->deleteLater();
    idle->deleteLater();
}
