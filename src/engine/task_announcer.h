#pragma once

#include <span>
#include <string>

namespace torrent
{

class announce_sink;
class TrackerAnnouncer;

// What opening a task does to the task's announcer: bind it to the task with the torrent's
// tracker list, and tell it whether the data on disk must be checked before the first
// announce. A test passes a stand-in.
class task_announcer
{
public:
    virtual ~task_announcer() = default;

    virtual void
    bind_task(announce_sink& task, std::span<const std::string> trackers, bool private_torrent) = 0;
    virtual void set_check_first(bool check) = 0;
};

// The real announcer behind task_announcer.
class tracker_announcer_binding final : public task_announcer
{
public:
    explicit tracker_announcer_binding(TrackerAnnouncer& announcer) noexcept
        : m_announcer(announcer)
    {
    }

    void bind_task(announce_sink& task, std::span<const std::string> trackers, bool private_torrent) override;
    void set_check_first(bool check) override;

private:
    TrackerAnnouncer& m_announcer;
};

} // namespace torrent
