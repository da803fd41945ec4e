#include "upnp/port_mapping_schedule.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <system_error>
#include <utility>

#include "net/net_observer.h"

namespace torrent
{
namespace
{

// What an attempt that ended in an exception (out of memory, no thread) counts as.
constexpr int failed_unexpectedly = -1;

} // namespace

PortMappingSchedule::PortMappingSchedule(
    std::unique_ptr<PortMapping> mapping,
    tick_t opened_at,
    port_mapping_env env,
    std::shared_ptr<std::atomic<tick_t>> last_attempt)
    : m_env(std::move(env))
    , m_shared_last(std::move(last_attempt))
    , m_last_attempt(m_shared_last ? std::max(opened_at, m_shared_last->load()) : opened_at)
    , m_mapping(std::move(mapping))
{
}

PortMappingSchedule::~PortMappingSchedule()
{
    // A gateway search in flight ends at once; a call to the gateway itself cannot be
    // cut short and is waited for (on a home network it takes milliseconds).
    if (m_mapping)
        m_mapping->cancel();
    stop_helper();
    // Deletes an established mapping from the router, also one whose attempt was still
    // in flight a moment ago.
    m_mapping.reset();
}

void PortMappingSchedule::retry_step(tick_t now)
{
    if (finished())
        return;
    if (m_in_flight)
    {
        outcome done;
        {
            std::lock_guard lock(m_mutex);
            if (!m_done)
                return;
            m_done = false;
            done = std::move(m_outcome);
        }
        m_in_flight = false;
        take_outcome(done);
        return;
    }
    if (m_attempts >= max_failures)
        return;
    if (!is_due(now, m_last_attempt + retry_interval_ms))
        return;
    start_attempt(now);
}

bool PortMappingSchedule::wait_attempt(unsigned ms)
{
    if (!m_in_flight)
        return true;
    std::unique_lock lock(m_mutex);
    return m_cond.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_done; });
}

void PortMappingSchedule::start_attempt(tick_t now)
{
    m_attempt_started = now;
    {
        std::lock_guard lock(m_mutex);
        m_requested = true;
    }
    m_in_flight = true;
    if (m_helper.joinable())
    {
        m_cond.notify_all();
        return;
    }
    try
    {
        m_helper = std::thread([this] { helper_main(); });
    }
    catch (const std::system_error&)
    {
        // No thread to be had right now: a failed attempt, retried on the schedule.
        {
            std::lock_guard lock(m_mutex);
            m_requested = false;
        }
        m_in_flight = false;
        outcome failed;
        failed.result = failed_unexpectedly;
        take_outcome(failed);
    }
}

void PortMappingSchedule::take_outcome(const outcome& done)
{
    net_observer& observer = m_env.observer;
    if (done.result != upnp_ok)
    {
        note_failure();
        if (m_attempts < max_failures)
            return;
        m_given_up = true;
        stop_helper();
        observer.set_upnp_established(false);
        observer.beep_alert();
        observer.set_upnp_wanted(false);
        observer.show_sticky_status(net_status::upnp_failed, {});
        return;
    }
    // The router holds the mapping from now on; it is deleted when the schedule ends.
    m_established = true;
    stop_helper();
    if (done.port == 0)
    {
        // Added but not readable back: counted as a failure, and nothing is announced.
        note_failure();
        return;
    }
    if (m_env.set_external)
        m_env.set_external(done.port, done.address);
    m_attempts = count_when_done;
    observer.set_upnp_established(true);
    observer.chime_connected();
    observer.set_upnp_wanted(false);
    observer.show_sticky_status(net_status::upnp_created, net_status_detail{done.address, done.port});
}

void PortMappingSchedule::note_failure()
{
    ++m_attempts;
    m_last_attempt = m_attempt_started;
    if (m_shared_last)
        m_shared_last->store(m_attempt_started);
}

void PortMappingSchedule::stop_helper()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_cond.notify_all();
    if (m_helper.joinable())
        m_helper.join();
}

void PortMappingSchedule::helper_main()
{
    std::unique_lock lock(m_mutex);
    for (;;)
    {
        m_cond.wait(lock, [this] { return m_requested || m_stop; });
        if (m_stop)
            return;
        m_requested = false;
        lock.unlock();
        outcome done;
        try
        {
            done.result = m_mapping->try_add();
            bool stopping = false;
            {
                std::lock_guard peek(m_mutex);
                stopping = m_stop;
            }
            if (done.result == upnp_ok && !stopping)
                m_mapping->query_external(done.address, done.port);
        }
        catch (...)
        {
            // Only allocation can throw here; the attempt counts as failed. An added
            // mapping stays established and is deleted with the PortMapping.
            done = outcome{};
            done.result = failed_unexpectedly;
        }
        lock.lock();
        m_outcome = std::move(done);
        m_done = true;
        m_cond.notify_all();
    }
}

} // namespace torrent
