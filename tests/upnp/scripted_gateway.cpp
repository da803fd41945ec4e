#include "upnp/scripted_gateway.h"

#include <chrono>
#include <dirent.h>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace torrent::test
{
namespace
{

class scripted_gateway final : public gateway_client
{
public:
    explicit scripted_gateway(std::shared_ptr<gateway_script> script)
        : m_script(std::move(script))
    {
        std::lock_guard lock(m_script->mutex);
        ++m_script->live_gateways;
    }

    ~scripted_gateway() override
    {
        std::lock_guard lock(m_script->mutex);
        --m_script->live_gateways;
    }

    scripted_gateway(const scripted_gateway&) = delete;
    scripted_gateway& operator=(const scripted_gateway&) = delete;

    int add_port_mapping(const mapping_request& request) override
    {
        event* entered = nullptr;
        event* release = nullptr;
        {
            std::lock_guard lock(m_script->mutex);
            entered = m_script->add_entered;
            release = m_script->add_release;
        }
        if (entered != nullptr && release != nullptr)
        {
            entered->set();
            release->wait();
        }
        std::lock_guard lock(m_script->mutex);
        m_script->adds.push_back(request);
        m_script->add_times.push_back(m_script->time != nullptr ? m_script->time->now() : 0);
        if (m_script->add_results.empty())
            return m_script->add_default;
        const int rc = m_script->add_results.front();
        m_script->add_results.pop_front();
        return rc;
    }

    int get_port_mapping(std::uint16_t, const std::string&, mapping_entry& entry) override
    {
        std::lock_guard lock(m_script->mutex);
        ++m_script->queries;
        if (m_script->entry_result == upnp_ok && !m_script->adds.empty())
        {
            entry.internal_client = m_script->adds.back().internal_client;
            entry.internal_port = m_script->adds.back().internal_port;
            entry.description = m_script->adds.back().description;
        }
        return m_script->entry_result;
    }

    int get_external_address(std::string& address) override
    {
        std::lock_guard lock(m_script->mutex);
        ++m_script->queries;
        if (m_script->external_result == upnp_ok)
            address = m_script->external_address;
        return m_script->external_result;
    }

    int delete_port_mapping(std::uint16_t external_port, const std::string& protocol) override
    {
        std::lock_guard lock(m_script->mutex);
        m_script->deletes.emplace_back(external_port, protocol);
        return upnp_ok;
    }

private:
    std::shared_ptr<gateway_script> m_script;
};

} // namespace

gateway_finder scripted_finder(std::shared_ptr<gateway_script> script)
{
    return [script](const std::string&, int stop_fd, int& result) -> std::unique_ptr<gateway_client>
    {
        bool wait_for_stop = false;
        {
            std::lock_guard lock(script->mutex);
            ++script->finds;
            wait_for_stop = script->find_waits_for_stop;
        }
        if (wait_for_stop)
        {
            pollfd stop{stop_fd, POLLIN, 0};
            static_cast<void>(::poll(&stop, 1, 10000));
            result = upnp_no_gateway;
            return nullptr;
        }
        {
            std::lock_guard lock(script->mutex);
            if (script->find_failures > 0)
            {
                --script->find_failures;
                result = upnp_no_gateway;
                return nullptr;
            }
        }
        result = upnp_ok;
        return std::make_unique<scripted_gateway>(script);
    };
}

void recording_observer::set_upnp_established(bool established)
{
    std::lock_guard lock(m_mutex);
    m_lines.push_back(established ? "established 1" : "established 0");
}

void recording_observer::set_upnp_wanted(bool wanted)
{
    std::lock_guard lock(m_mutex);
    m_lines.push_back(wanted ? "wanted 1" : "wanted 0");
}

void recording_observer::show_sticky_status(net_status status, const net_status_detail& detail)
{
    std::lock_guard lock(m_mutex);
    if (status == net_status::upnp_created)
        m_lines.push_back("status created " + detail.address + " " + std::to_string(detail.port));
    else
        m_lines.push_back("status failed");
}

void recording_observer::chime_connected()
{
    std::lock_guard lock(m_mutex);
    m_lines.emplace_back("chime");
}

void recording_observer::beep_alert()
{
    std::lock_guard lock(m_mutex);
    m_lines.emplace_back("beep");
}

std::vector<std::string> recording_observer::lines() const
{
    std::lock_guard lock(m_mutex);
    return m_lines;
}

int count_threads()
{
    // A sanitizer runtime may start a thread of its own with the first thread the
    // process makes; make that happen before anything is counted, and wait until the
    // kernel no longer lists the thread made for it.
    static const bool warmed_up = []
    {
        pid_t tid = 0;
        std::thread([&tid] { tid = ::gettid(); }).join();
        const std::string entry = "/proc/self/task/" + std::to_string(tid);
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (::access(entry.c_str(), F_OK) == 0 && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return true;
    }();
    static_cast<void>(warmed_up);
    int count = 0;
    if (DIR* dir = ::opendir("/proc/self/task"))
    {
        while (const dirent* entry = ::readdir(dir))
        {
            if (entry->d_name[0] != '.')
                ++count;
        }
        ::closedir(dir);
    }
    return count;
}

int count_threads_settled(int want)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    int count = count_threads();
    while (count > want && std::chrono::steady_clock::now() < end)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        count = count_threads();
    }
    return count;
}

} // namespace torrent::test
