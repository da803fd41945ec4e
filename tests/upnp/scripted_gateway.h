#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "base/event.h"
#include "base/tick.h"
#include "net/net_observer.h"
#include "upnp/gateway_client.h"

namespace torrent::test
{

// A gateway whose answers the test writes in advance and whose calls it reads back.
// Shared by the finder and every gateway object it hands out; safe across threads.
struct gateway_script
{
    std::mutex mutex;
    const clock* time = nullptr;

    // Answers.
    int find_failures = 0; // discoveries that find nothing before one succeeds
    bool find_waits_for_stop = false; // a search that lasts until it is stopped (10 s at most)
    std::deque<int> add_results; // taken one per add; then `add_default`
    int add_default = upnp_ok;
    int entry_result = upnp_ok; // of get_port_mapping
    std::string external_address = "203.0.113.7";
    int external_result = upnp_ok; // of get_external_address
    // When set, an add signals `add_entered` and waits for `add_release`.
    event* add_entered = nullptr;
    event* add_release = nullptr;

    // Calls seen.
    int finds = 0;
    int live_gateways = 0;
    std::vector<tick_t> add_times;
    std::vector<mapping_request> adds;
    int queries = 0;
    std::vector<std::pair<std::uint16_t, std::string>> deletes;

    [[nodiscard]] int add_count()
    {
        std::lock_guard lock(mutex);
        return static_cast<int>(adds.size());
    }

    [[nodiscard]] int delete_count()
    {
        std::lock_guard lock(mutex);
        return static_cast<int>(deletes.size());
    }

    // Every gateway call of any kind so far.
    [[nodiscard]] int traffic()
    {
        std::lock_guard lock(mutex);
        return finds + static_cast<int>(adds.size()) + queries + static_cast<int>(deletes.size());
    }
};

[[nodiscard]] gateway_finder scripted_finder(std::shared_ptr<gateway_script> script);

// Records what the network layer tells the window, in order, as short lines:
// "established 1", "wanted 0", "status failed", "status created <address> <port>", "chime",
// "beep".
class recording_observer final : public net_observer
{
public:
    void set_upnp_established(bool established) override;
    void set_upnp_wanted(bool wanted) override;
    void show_sticky_status(net_status status, const net_status_detail& detail) override;
    void chime_connected() override;
    void beep_alert() override;

    [[nodiscard]] std::vector<std::string> lines() const;

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

// Number of threads of this process (for checks that no helper is left running).
[[nodiscard]] int count_threads();

// The same once threads that were just joined are gone: the kernel lists a thread for a
// moment after its join returned, so the count is read again (for up to 2 s) while it is
// above `want`.
[[nodiscard]] int count_threads_settled(int want);

} // namespace torrent::test
