#pragma once

#include <optional>
#include <utility>
#include <vector>

#include "app/settings_model.h"
#include "registry/task_registry.h"

namespace torrent::test
{

// The main window as the settings dialog sees it: values it reports, what it was given.
// With a registry, stores go through it as the window's do.
class fake_settings_host final : public settings_host
{
public:
    explicit fake_settings_host(TaskRegistry* registry = nullptr)
        : m_registry(registry)
    {
    }

    settings_values current_settings() const override { return values; }

    window_geometry current_geometry() const override { return geometry; }

    void apply_settings(const settings_values& v) override
    {
        values.runtime = v.runtime;
        ++applied;
    }

    void SetUpnp(bool wanted, bool start_now) override { upnp_calls.emplace_back(wanted, start_now); }

    bool store_settings(const SettingsRecord& record) override
    {
        stored = record;
        return m_registry != nullptr && m_registry->WriteSettings(record) == registry_result::ok;
    }

    void remember_saved_maximums(std::uint8_t tasks, std::uint8_t connections) override
    {
        saved = saved_maximums{tasks, connections};
    }

    settings_values values;
    window_geometry geometry;
    int applied = 0;
    std::vector<std::pair<bool, bool>> upnp_calls;
    std::optional<SettingsRecord> stored;
    std::optional<saved_maximums> saved;

private:
    TaskRegistry* m_registry;
};

} // namespace torrent::test
