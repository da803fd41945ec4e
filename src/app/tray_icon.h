#pragma once

#include <string>
#include <string_view>

#include <QIcon>
#include <QObject>

class QSystemTrayIcon;

// The window's icon in the desktop's tray. It is either shown or not: SetIcon with an icon
// adds it (or modifies the one shown), SetIcon without one removes it. The tip is kept in
// at most 127 bytes of UTF-8, cut at a character boundary; without a new tip the old one
// stays. Clicks come back as the window's tray notifications (513 left, 516 right).
// The tray host's restart is the toolkit's business on this platform: it docks the icon
// again with its tip; this class keeps the state the window sees.
// Owner: the main window. Runs on: the window's thread.
class TrayIcon final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TrayIcon)

public:
    static constexpr std::size_t max_tip_bytes = 127;
    static constexpr int left_button_down = 513;
    static constexpr int right_button_down = 516;

    explicit TrayIcon(QObject* parent = nullptr);
    ~TrayIcon() override;

    // Adds, modifies or (with a null icon) removes the icon; a null tip keeps the old one.
    void SetIcon(const QIcon* icon, const std::string* tip);

    [[nodiscard]] bool shown() const noexcept { return m_shown; }

    [[nodiscard]] const std::string& tip() const noexcept { return m_tip; }

    // Whether the desktop has a tray to show the icon in.
    [[nodiscard]] static bool available();

    // For tests and hosts without mouse events: what a click on the icon sends.
    void click(int mouseMessage) { Q_EMIT notified(mouseMessage); }

    [[nodiscard]] QSystemTrayIcon* native() const noexcept { return m_icon; }

    // `text` cut to at most `max_bytes` bytes without splitting a UTF-8 character.
    [[nodiscard]] static std::string cutTip(std::string_view text, std::size_t max_bytes = max_tip_bytes);

Q_SIGNALS:
    // The tray notification: 513 left button, 516 right button, 519 middle button.
    void notified(int mouseMessage);

private:
    QSystemTrayIcon* m_icon = nullptr; // owned through the QObject tree
    std::string m_tip;
    QIcon m_image;
    bool m_shown = false;
};
