// The main window's list modes and stepping through its running tasks.
#include "app/main_window.h"
#include "app/task_list.h"

using torrent::display_layout;

void MainWindow::SwitchListMode()
{
    const bool toTasks = m_list->mode() == TaskList::Mode::peers;
    m_list->setMode(toTasks ? TaskList::Mode::tasks : TaskList::Mode::peers);
    if (!toTasks)
    {
        // Single-task mode: the current slot's task with the layout it had before.
        m_list->pauseLoading();
        m_current = &m_slots[static_cast<std::size_t>(m_currentIndex)];
        if (m_layout != display_layout::hidden)
            m_layout = m_listLayout;
        ApplyLayout();
        RefreshCurrent(m_current, true);
        return;
    }
    if (m_layout != display_layout::hidden)
    {
        m_listLayout = m_layout;
        m_layout = display_layout::single_line_extended;
    }
    ApplyLayout();
    if (!m_list->loaded())
    {
        m_list->beginLoading();
        setTimer(probe_period_ms);
        return;
    }
    RefreshCurrent(m_current, true);
}

void MainWindow::SelectSlot(SlotView* view)
{
    for (int i = 1; i <= m_maxTasks && i < slot_count; ++i)
    {
        if (&m_slots[static_cast<std::size_t>(i)] != view)
            continue;
        m_currentIndex = i;
        m_current = view;
        if (m_list->mode() == TaskList::Mode::tasks)
        {
            SwitchListMode();
        }
        else
        {
            // Already in single-task mode: the peers shown become the slot's.
            m_list->setMode(TaskList::Mode::peers);
            RefreshCurrent(m_current, true);
        }
        return;
    }
}

void MainWindow::SelectTask(int step)
{
    const int found = torrent::select_task_walk(
        m_currentIndex,
        step,
        std::min<int>(m_maxTasks, slot_count - 1),
        [this](int i) { return !m_slots[static_cast<std::size_t>(i)].free(); });
    if (found < 0)
        return;
    m_currentIndex = found;
    m_current = &m_slots[static_cast<std::size_t>(found)];
    if (m_list->mode() == TaskList::Mode::peers)
        m_list->setMode(TaskList::Mode::peers); // the peers of the task now current
    else if (m_current->entry != nullptr)
        m_list->select(*m_current->entry);
    RefreshCurrent(m_current, true);
}

void MainWindow::ToggleAllTasksOnly()
{
    m_list->setAllTasksOnly(!m_list->allTasksOnly());
    arrange();
    RefreshCurrent(m_current, true);
}
