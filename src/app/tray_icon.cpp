#include "app/tray_icon.h"

#include <QSystemTrayIcon>

#include "app/qt_text.h"

TrayIcon::TrayIcon(QObject* parent)
    : QObject(parent)
    , m_icon(new QSystemTrayIcon(this))
{
    connect(
        m_icon,
        &QSystemTrayIcon::activated,
        this,
        [this](QSystemTrayIcon::ActivationReason reason)
        {
            switch (reason)
            {
            case QSystemTrayIcon::Trigger:
                Q_EMIT notified(left_button_down);
                break;
            case QSystemTrayIcon::Context:
                Q_EMIT notified(right_button_down);
                break;
            case QSystemTrayIcon::MiddleClick:
                Q_EMIT notified(519);
                break;
            default:
                break;
            }
        });
}

TrayIcon::~TrayIcon()
{
    SetIcon(nullptr, nullptr);
}

bool TrayIcon::available()
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

std::string TrayIcon::cutTip(std::string_view text, std::size_t max_bytes)
{
    if (text.size() <= max_bytes)
        return std::string(text);
    std::size_t end = max_bytes;
    // Step back over continuation bytes to the start of the character that would be cut.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return std::string(text.substr(0, end));
}

void TrayIcon::SetIcon(const QIcon* icon, const std::string* tip)
{
    if (icon == nullptr && !m_shown)
        return;
    bool tipChanged = false;
    if (tip != nullptr)
    {
        std::string cut = cutTip(*tip);
        tipChanged = cut != m_tip;
        m_tip = std::move(cut);
    }
    if (icon == nullptr)
    {
        m_icon->hide();
        m_shown = false;
        return;
    }
    // A modify that changes nothing costs the tray host a redraw: only changes go out.
    if (!m_shown || icon->cacheKey() != m_image.cacheKey())
    {
        m_image = *icon;
        m_icon->setIcon(m_image);
    }
    if (!m_shown || tipChanged)
        m_icon->setToolTip(display_text(m_tip));
    if (!m_shown)
        m_icon->show();
    m_shown = true;
}
