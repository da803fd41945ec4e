#pragma once

namespace torrent::test
{

// True when the test process runs in a network namespace of its own with only loopback up
// (entered at start by the test main), so nothing it does can reach another machine.
[[nodiscard]] bool in_private_network() noexcept;

} // namespace torrent::test
