// The main window's keys and mouse commands, hiding in the tray and coming back, the
// minimise-and-restore step and the topmost switch.
#include <malloc.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QWindow>

#include "app/help_dialog.h"
#include "app/main_window.h"
#include "app/task_list.h"
#include "app/tray_icon.h"

using torrent::display_layout;

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
        return QDialog::eventFilter(watched, event);
    // Only the keys meant for this window or one of its controls; a box or dialog of its
    // own has keys of its own.
    const auto* widget = static_cast<QWidget*>(watched);
    if (widget->window() != this)
        return QDialog::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
    if (mods != Qt::NoModifier)
        return QDialog::eventFilter(watched, event);
    return takeKey(key->key()) || QDialog::eventFilter(watched, event);
}

bool MainWindow::takeKey(int key)
{
    switch (key)
    {
    case Qt::Key_Tab:
        SelectTask(1);
        return true;
    case Qt::Key_F1:
        ShowHelp(true, this);
        return true;
    case Qt::Key_F2:
        SwitchListMode();
        return true;
    case Qt::Key_F3:
        ToggleTopmost();
        return true;
    case Qt::Key_F4:
        ToggleAllTasksOnly();
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        NextLayout();
        return true;
    case Qt::Key_Escape:
        HideToTray();
        return true;
    default:
        return false;
    }
}

void MainWindow::mousePressEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    const torrent::body_hit hit = torrent::hit_test(m_layout, width(), height(), at.x(), at.y());
    const bool singleTaskRunning = m_running > 0 && m_list->mode() == TaskList::Mode::peers;
    switch (event->button())
    {
    case Qt::LeftButton:
        // The body drags the window; layout 2's left end resizes its width.
        if (hit == torrent::body_hit::client)
            break;
        m_dragResizes = hit == torrent::body_hit::right_border;
        if (QWindow* native = windowHandle())
        {
            const bool started =
                m_dragResizes ? native->startSystemResize(Qt::RightEdge) : native->startSystemMove();
            if (started)
            {
                event->accept();
                return;
            }
        }
        m_dragArmed = true;
        m_dragFrom = event->globalPosition().toPoint();
        m_dragGeometry = QRect(pos(), size()); // move() places the frame
        event->accept();
        return;
    case Qt::RightButton:
        if (hit == torrent::body_hit::caption)
        {
            bodyRightClick(at, event->globalPosition().toPoint());
        }
        else if (hit == torrent::body_hit::client)
        {
            if (at.x() <= m_symbol->geometry().right())
                SwitchListMode();
            else if (singleTaskRunning)
                SelectTask(1);
            else
                NextLayout();
        }
        event->accept();
        return;
    case Qt::MiddleButton:
        if (hit == torrent::body_hit::caption)
        {
            if (singleTaskRunning)
                SelectTask(-1);
            else
                NextLayout();
        }
        event->accept();
        return;
    default:
        break;
    }
    QDialog::mousePressEvent(event);
}

void MainWindow::bodyRightClick(QPoint at, QPoint global)
{
    if (m_layout == display_layout::single_line)
    {
        // The strip's left end shows or hides "Go" and "SaveTo"; the rest of the status
        // bar opens the menu of the commands that need no task.
        if (at.x() < m_strip.go)
        {
            showButtons(!m_buttonsShown);
            arrange();
            return;
        }
        if (at.x() < m_status->geometry().x() + m_status->geometry().width())
        {
            m_list->showMenu(QPoint(-1, -1), global);
            return;
        }
    }
    if (m_running > 0 && m_list->mode() == TaskList::Mode::peers)
        SelectTask(1);
    else
        NextLayout();
}

void MainWindow::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_dragArmed || (event->buttons() & Qt::LeftButton) == 0)
    {
        QDialog::mouseMoveEvent(event);
        return;
    }
    const QPoint delta = event->globalPosition().toPoint() - m_dragFrom;
    if (m_dragResizes)
        resize(std::max(minimumWidth(), m_dragGeometry.width() + delta.x()), height());
    else
        move(m_dragGeometry.topLeft() + delta);
    event->accept();
}

void MainWindow::mouseReleaseEvent(QMouseEvent* event)
{
    m_dragArmed = false;
    QDialog::mouseReleaseEvent(event);
}

void MainWindow::mouseDoubleClickEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    if (event->button() == Qt::LeftButton
        && torrent::hit_test(m_layout, width(), height(), at.x(), at.y()) == torrent::body_hit::caption)
    {
        NextLayout();
        event->accept();
        return;
    }
    QDialog::mouseDoubleClickEvent(event);
}

void MainWindow::HideToTray()
{
    ShowHelp(false);
    if (m_layout != display_layout::hidden)
        m_trayLayout = m_layout;
    refreshTrayTip();
    if (!TrayIcon::available())
    {
        // No tray to come back from: the window is only minimised, so it is never lost.
        if (!m_trayMissingSaid)
        {
            m_trayMissingSaid = true;
            ShowStatus(QStringLiteral("没有系统托盘，窗口已最小化。"), true);
        }
        showMinimized();
        return;
    }
    m_layout = display_layout::hidden;
    MinimiseAndRestore(false);
}

void MainWindow::MinimiseAndRestore(bool showAgain)
{
    // The window keeps its place: it comes back (or stays away) where it was. A minimise
    // round trip on the screen would only make it flicker here; what it is for, handing
    // the memory freed meanwhile back to the system, is done below.
    LayoutGuard guard(*this);
    m_remembered = pos();
    if (showAgain)
    {
        if (!isVisible() || isMinimized())
        {
            setAttribute(Qt::WA_ShowWithoutActivating, true);
            showNormal();
            setAttribute(Qt::WA_ShowWithoutActivating, false);
            move(m_remembered);
        }
    }
    else
    {
        hide();
    }
    malloc_trim(0);
}

void MainWindow::TrayNotification(int mouseMessage)
{
    if (m_layout == display_layout::hidden && m_current != nullptr
        && (m_current->view.flags & torrent::view_flag::held) != 0)
    {
        refreshTrayTip();
        m_current->view.flags = 0;
    }
    if (mouseMessage == TrayIcon::right_button_down)
    {
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            move(screen->availableGeometry().center() - rect().center());
        return;
    }
    if (mouseMessage != TrayIcon::left_button_down)
        return;
    LayoutGuard guard(*this);
    const bool wasHidden = m_layout == display_layout::hidden || !isVisible();
    showNormal();
    if (wasHidden)
    {
        move(m_remembered);
        if (m_layout == display_layout::hidden)
            m_layout = m_trayLayout != display_layout::hidden ? m_trayLayout : display_layout::standard;
        ApplyLayout();
    }
    raise();
    activateWindow();
    RefreshCurrent(m_current, true);
}

void MainWindow::ToggleTopmost()
{
    m_topmost = !m_topmost;
    applyTopmost();
}

void MainWindow::applyTopmost()
{
    if (m_topmost == windowFlags().testFlag(Qt::WindowStaysOnTopHint))
        return;
    // Changing the flag makes the toolkit create the native window again, hidden.
    LayoutGuard guard(*this);
    const bool visible = isVisible();
    const QRect place = geometry();
    setWindowFlag(Qt::WindowStaysOnTopHint, m_topmost);
    setGeometry(place);
    if (visible)
        show();
}
