#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

namespace torrent
{

struct tone
{
    std::uint16_t hertz = 0;
    std::uint16_t ms = 0;
};

// The window's three sound signals.
namespace sounds
{
inline constexpr tone chime_connected[] = {{511, 100}, {767, 100}, {1023, 200}, {1279, 100}};
inline constexpr tone beep_done[] = {{767, 150}, {767, 150}, {1023, 250}};
inline constexpr tone beep_alert[] = {{111, 100}, {69, 100}, {53, 100}};
} // namespace sounds

// Plays tone sequences on the default ALSA device, one after the other, on a worker thread
// of its own (started with the first signal), so the caller never waits. When no device
// opens (no sound card) a signal is dropped without a word; ALSA's own error printing is
// silenced.
//
// Owner: the main window. Runs on: play() from the window's thread; the worker plays.
class sound_player
{
public:
    sound_player() = default;
    // Drops what is still queued and waits for the signal being played.
    ~sound_player();
    sound_player(const sound_player&) = delete;
    sound_player& operator=(const sound_player&) = delete;

    void play(std::span<const tone> signal);

    // Signals played (or dropped for want of a device) so far; for tests.
    [[nodiscard]] unsigned finished() const;

    // The samples of a signal: mono, signed 16-bit at `rate` Hz, each tone faded in and
    // out over a few milliseconds so it does not click.
    [[nodiscard]] static std::vector<std::int16_t> synthesise(std::span<const tone> signal, unsigned rate);

private:
    void worker_main();

    mutable std::mutex m_mutex;
    std::condition_variable m_cond;
    std::deque<std::vector<tone>> m_queue;
    unsigned m_finished = 0;
    bool m_stop = false;
    std::thread m_worker;
};

} // namespace torrent
