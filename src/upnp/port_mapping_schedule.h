#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "base/tick.h"
#include "net/port_mapper.h"
#include "upnp/port_mapping.h"

namespace torrent
{

// The background schedule of the router port mapping. The listener calls `retry_step`
// on every idle pass while the mapping is not established: an attempt starts no sooner
// than 5000 ms after the listening socket was opened or after the previous attempt
// started (and never while one runs), and runs on a helper thread (discovery and the gateway's answers take
// seconds), so the pass never blocks. A later pass collects the outcome and tells the
// window: success announces the external address and port, 999 failures give up.
//
// Owned by the listener. Runs on: the poller thread (every public call, including the
// observer calls and `set_external`); the helper thread only runs the PortMapping.
// Destroying it calls off an attempt in flight (a gateway search ends at once; a call
// already sent to the gateway is waited for) and removes an established mapping.
class PortMappingSchedule final : public port_mapper
{
public:
    static constexpr tick_t retry_interval_ms = 5000;
    static constexpr std::uint16_t max_failures = 999;
    // The attempt count once the mapping was announced: no further attempts.
    static constexpr std::uint16_t count_when_done = 1009;

    // `last_attempt`, when given, is shared with the other schedules of the same
    // factory and keeps the 5000 ms spacing across a restart.
    PortMappingSchedule(
        std::unique_ptr<PortMapping> mapping,
        tick_t opened_at,
        port_mapping_env env,
        std::shared_ptr<std::atomic<tick_t>> last_attempt = {});
    ~PortMappingSchedule() override;
    PortMappingSchedule(const PortMappingSchedule&) = delete;
    PortMappingSchedule& operator=(const PortMappingSchedule&) = delete;

    [[nodiscard]] bool established() const override { return m_established; }

    void retry_step(tick_t now) override;

    [[nodiscard]] bool finished() const override { return m_established || m_given_up; }

    // Waits up to `ms` for the attempt in flight to end (the next `retry_step` then
    // takes its outcome). True when no attempt is running any more.
    bool wait_attempt(unsigned ms);

    [[nodiscard]] std::uint16_t attempt_count() const noexcept { return m_attempts; }

private:
    struct outcome
    {
        int result = 0;
        std::string address;
        std::uint16_t port = 0;
    };

    void start_attempt(tick_t now);
    void take_outcome(const outcome& done);
    void note_failure();
    void stop_helper();
    void helper_main();

    port_mapping_env m_env;
    std::shared_ptr<std::atomic<tick_t>> m_shared_last;
    tick_t m_last_attempt; // start of the last failed attempt, or the open time
    tick_t m_attempt_started = 0;
    std::uint16_t m_attempts = 0;
    bool m_in_flight = false;
    bool m_established = false;
    bool m_given_up = false;

    // Touched by the helper thread only while an attempt runs; by the owner once the
    // helper is joined.
    std::unique_ptr<PortMapping> m_mapping;

    std::mutex m_mutex;
    std::condition_variable m_cond;
    bool m_requested = false;
    bool m_stop = false;
    bool m_done = false;
    outcome m_outcome;
    std::thread m_helper;
};

} // namespace torrent
