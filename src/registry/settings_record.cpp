#include "registry/settings_record.h"

namespace torrent
{
namespace
{

class writer
{
public:
    explicit writer(settings_bytes& out)
        : m_out(out)
    {
    }

    template <class T>
    void put(T value) noexcept
    {
        const auto bits = static_cast<std::uint32_t>(value);
        for (std::size_t i = 0; i < sizeof(T); ++i)
            m_out[m_at++] = static_cast<std::uint8_t>((bits >> (8 * i)) & 0xFF);
    }

private:
    settings_bytes& m_out;
    std::size_t m_at = 0;
};

class reader
{
public:
    explicit reader(std::span<const std::uint8_t, SettingsRecord::size> in)
        : m_in(in)
    {
    }

    template <class T>
    void get(T& value) noexcept
    {
        std::uint32_t bits = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i)
            bits |= std::uint32_t{m_in[m_at++]} << (8 * i);
        value = static_cast<T>(bits);
    }

private:
    std::span<const std::uint8_t, SettingsRecord::size> m_in;
    std::size_t m_at = 0;
};

// One list of the fields in their stored order, for both directions.
template <class Record, class Visit>
void visit_fields(Record& r, Visit&& visit)
{
    visit(r.max_tasks);
    visit(r.max_connections);
    visit(r.flags);
    visit(r.reserved);
    visit(r.download_limit);
    visit(r.upload_limit);
    visit(r.seeding_time);
    visit(r.refresh_period);
    visit(r.user_width);
    visit(r.user_height);
    visit(r.single_line_width);
    visit(r.single_line_ext_width);
    visit(r.single_line_ext_height);
    visit(r.position_x);
    visit(r.position_y);
}

} // namespace

settings_bytes encode_settings(const SettingsRecord& record) noexcept
{
    settings_bytes out{};
    writer w(out);
    visit_fields(record, [&w](auto value) { w.put(value); });
    return out;
}

SettingsRecord decode_settings(std::span<const std::uint8_t, SettingsRecord::size> bytes) noexcept
{
    SettingsRecord record;
    reader r(bytes);
    visit_fields(record, [&r](auto& value) { r.get(value); });
    return record;
}

} // namespace torrent
