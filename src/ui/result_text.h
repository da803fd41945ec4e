#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/task_pool.h"
#include "net/net_observer.h"
#include "storage/storage_error.h"
#include "tracker/announce_response.h"

namespace torrent
{

// The one table that turns the engine's result codes into the texts a user is shown, by
// zorvik-cli and by the window alike. The engine and the network hand up codes and the
// facts behind them (a path, an errno, sizes), never sentences; a row of the table gives
// each code its text: a UiText entry where the window has one, else a short English
// sentence, with placeholders filled from the details:
//   {path}      the file or folder, quoted        {error}  the system's reason (strerror)
//   {needed} {available}  counts                  {needed_size} {available_size}  sizes
//   {reason}    a reason in words (why metainfo is invalid, what a tracker said)
//   {address} {port}
// A new code gets a new row (and, for a new kind of result, a new domain).
enum class result_domain : std::uint8_t
{
    open_task = 0, // open_task_result
    storage = 1, // storage_fault
    set_port = 2, // set_port_result
    net_status = 3, // net_status
    tracker = 4, // announce_outcome
};

// The facts a text is filled with.
struct result_detail
{
    std::string path;
    int error_number = 0;
    std::uint64_t needed = 0;
    std::uint64_t available = 0;
    std::string reason;
    std::string address;
    std::uint16_t port = 0;
};

// The text of a code of a domain; a code without a row gives "result D.C".
[[nodiscard]] std::string
result_text(result_domain domain, std::uint8_t code, const result_detail& detail = {});

// A storage fault with its details.
[[nodiscard]] std::string result_text(const storage_error& error);

// An open result; when the open said what failed (`why`), that is the text instead of the
// general one.
[[nodiscard]] std::string result_text(open_task_result result, const storage_error& why = {});

[[nodiscard]] std::string result_text(set_port_result result);

[[nodiscard]] std::string result_text(net_status status, const net_status_detail& detail);

// What a tracker answered an announce with, for the tracker at `url`; `reason` is the
// tracker's own text (its failure reason, already made safe to show).
[[nodiscard]] std::string
result_text(announce_outcome outcome, const std::string& url, const std::string& reason = {});

} // namespace torrent
