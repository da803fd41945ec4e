#include "ui/result_text.h"

#include <array>
#include <cstring>

#include "ui/number_format.h"
#include "ui/ui_text.h"

namespace torrent
{
namespace
{

constexpr int no_entry = -1;

struct result_row
{
    result_domain domain;
    std::uint8_t code;
    int lead; // UiText entry shown first, or no_entry
    std::string_view text; // with placeholders; may be empty when the lead says it all
};

constexpr auto open = result_domain::open_task;
constexpr auto store = result_domain::storage;

// Every row, by domain and code.
constexpr std::array rows{
    result_row{open, 1, no_entry, "opened"},
    result_row{open, 2, no_entry, "invalid torrent"},
    result_row{open, 3, no_entry, "the .torrent file cannot be opened"},
    result_row{open, 4, no_entry, "a torrent with the same info-hash is already open"},
    result_row{open, 5, no_entry, "not enough free disk space"},
    result_row{open, 6, no_entry, "the files or the piece-state file cannot be opened or created"},
    result_row{open, 7, no_entry, "opened; the data already on disk is checked first"},
    result_row{open, 8, no_entry, "every task slot is in use"},
    result_row{open, 9, uitext::network_not_connected, ""},

    result_row{store, 1, no_entry, "invalid torrent: {reason}"},
    result_row{
        store,
        2,
        no_entry,
        "not enough free disk space in {path}: {needed_size} needed, {available_size} free"},
    result_row{store, 3, no_entry, "cannot create the folder {path}: {error}"},
    result_row{store, 4, no_entry, "cannot open or create {path}: {error}"},
    result_row{store, 5, no_entry, "{path} is in use by another program (or another torrent)"},
    result_row{
        store,
        6,
        no_entry,
        "{path} is longer on disk ({available} bytes) than the torrent says ({needed} bytes)"},
    result_row{store, 7, no_entry, "cannot allocate {path}: {error}"},
    result_row{
        store,
        8,
        no_entry,
        "{path} is a link that leads out of the save folder; nothing is written through it"},
    result_row{
        store,
        9,
        no_entry,
        "the torrent needs {needed} open files, but the process may open only {available} (see ulimit -n)"},
    result_row{store, 10, no_entry, "cannot open or create the piece-state file {path}: {error}"},
    result_row{
        store,
        11,
        no_entry,
        "the piece-state file {path} is longer than this torrent's: it belongs to another"},
    result_row{
        store,
        12,
        no_entry,
        "{path} cannot be written and is incomplete: a read-only download can only be seeded"},
    result_row{store, 13, no_entry, "cannot read {path}: {error}"},
    result_row{store, 14, no_entry, "cannot write {path}: {error}"},
    result_row{
        store,
        15,
        no_entry,
        "{path} became shorter than the torrent says ({available} of {needed} bytes): another program "
        "changed it"},
    result_row{store, 16, no_entry, "cannot write the piece-state file {path}: {error}"},
    result_row{
        store,
        17,
        no_entry,
        "a path is {needed} bytes long, longer than the system allows ({available}): {path}"},

    result_row{result_domain::set_port, 0, no_entry, "listening"},
    result_row{result_domain::set_port, 1, uitext::listen_bind_failed, ""},
    result_row{result_domain::set_port, 2, no_entry, "the network threads could not be started"},

    result_row{result_domain::net_status, 1, uitext::upnp_failed, ""},
    result_row{result_domain::net_status, 2, uitext::upnp_created, ",{address}, port = {port}"},

    result_row{
        result_domain::tracker, 0, no_entry, "tracker {address} gave an answer that is not a dictionary"},
    result_row{result_domain::tracker, 1, no_entry, "tracker {address} refused the announce: {reason}"},
    result_row{result_domain::tracker, 2, no_entry, "tracker {address} answered without an interval"},
    result_row{result_domain::tracker, 3, no_entry, "tracker {address} accepted the announce"},
};

const result_row* find_row(result_domain domain, std::uint8_t code) noexcept
{
    for (const result_row& r : rows)
    {
        if (r.domain == domain && r.code == code)
            return &r;
    }
    return nullptr;
}

std::string quoted(const std::string& path)
{
    return "'" + path + "'";
}

// Fills the placeholders of a row's text.
std::string fill(std::string_view text, const result_detail& d)
{
    std::string out;
    out.reserve(text.size() + d.path.size() + 32);
    std::size_t at = 0;
    while (at < text.size())
    {
        const std::size_t open_brace = text.find('{', at);
        const std::size_t close_brace =
            open_brace == std::string_view::npos ? std::string_view::npos : text.find('}', open_brace);
        if (close_brace == std::string_view::npos)
        {
            out.append(text.substr(at));
            break;
        }
        out.append(text.substr(at, open_brace - at));
        const std::string_view name = text.substr(open_brace + 1, close_brace - open_brace - 1);
        if (name == "path")
            out += quoted(d.path);
        else if (name == "error")
            out += d.error_number != 0 ? std::strerror(d.error_number) : "unknown reason";
        else if (name == "needed")
            out += std::to_string(d.needed);
        else if (name == "available")
            out += std::to_string(d.available);
        else if (name == "needed_size")
            out += FormatSize(d.needed);
        else if (name == "available_size")
            out += FormatSize(d.available);
        else if (name == "reason")
            out += d.reason;
        else if (name == "address")
            out += d.address;
        else if (name == "port")
            out += std::to_string(d.port);
        else
            out.append(text.substr(open_brace, close_brace - open_brace + 1));
        at = close_brace + 1;
    }
    return out;
}

result_detail detail_of(const storage_error& e)
{
    result_detail d;
    d.path = e.path;
    d.error_number = e.error_number;
    d.needed = e.needed;
    d.available = e.available;
    d.reason = e.reason;
    return d;
}

} // namespace

std::string result_text(result_domain domain, std::uint8_t code, const result_detail& detail)
{
    const result_row* row = find_row(domain, code);
    if (row == nullptr)
        return "result " + std::to_string(static_cast<unsigned>(domain)) + "." + std::to_string(code);
    std::string out;
    if (row->lead != no_entry)
        out = std::string(ui_text(static_cast<std::size_t>(row->lead)));
    const std::string rest = fill(row->text, detail);
    if (!out.empty() && !rest.empty() && rest.front() != ',')
        out += ' ';
    return out + rest;
}

std::string result_text(const storage_error& error)
{
    if (error.fault == storage_fault::invalid && error.reason.empty())
        return "invalid torrent";
    return result_text(result_domain::storage, static_cast<std::uint8_t>(error.fault), detail_of(error));
}

std::string result_text(open_task_result result, const storage_error& why)
{
    if (why)
        return result_text(why);
    return result_text(result_domain::open_task, static_cast<std::uint8_t>(result));
}

std::string result_text(announce_outcome outcome, const std::string& url, const std::string& reason)
{
    result_detail d;
    d.address = url;
    d.reason = reason;
    return result_text(result_domain::tracker, static_cast<std::uint8_t>(outcome), d);
}

std::string result_text(set_port_result result)
{
    return result_text(result_domain::set_port, static_cast<std::uint8_t>(result));
}

std::string result_text(net_status status, const net_status_detail& detail)
{
    result_detail d;
    d.address = detail.address;
    d.port = detail.port;
    return result_text(result_domain::net_status, static_cast<std::uint8_t>(status), d);
}

} // namespace torrent
