#include "app/desktop_notifier.h"

#include <cstdlib>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>

#include "app/main_window_title.h"
#include "app/qt_text.h"

DesktopNotifier::DesktopNotifier(QObject* parent)
    : QObject(parent)
{
}

void DesktopNotifier::downloadComplete(const QString& name, const QString& folder)
{
    ++m_sent;
    // Only a session bus the environment names: connecting must never start one.
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address == nullptr || address[0] == '\0')
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage message = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("Notify"));
    message << mainWindowTitle() << 0u << QStringLiteral("document-save") << name
            << QStringLiteral("%1\n%2").arg(ui_qtext(torrent::uitext::download_complete), folder)
            << QStringList() << QVariantMap() << -1;
    static_cast<void>(bus.send(message));
}
