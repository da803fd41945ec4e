#include "app/sound_player.h"

#include <alsa/asoundlib.h>
#include <cmath>
#include <cstdarg>
#include <numbers>

namespace torrent
{
namespace
{

constexpr unsigned sample_rate = 44100;
constexpr unsigned fade_samples = sample_rate / 200; // 5 ms
constexpr double amplitude = 0.25 * 32767.0;

void quiet_alsa_errors(const char*, int, const char*, int, const char*, ...) {}

// Plays the samples on the default device; false when there is none.
bool play_samples(const std::vector<std::int16_t>& samples)
{
    snd_pcm_t* pcm = nullptr;
    // Non-blocking open so a device held by someone else cannot hang the worker.
    if (snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0)
        return false;
    bool ok = snd_pcm_nonblock(pcm, 0) == 0
        && snd_pcm_set_params(
               pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 1, sample_rate, 1, 100000)
            == 0;
    std::size_t done = 0;
    while (ok && done < samples.size())
    {
        const snd_pcm_sframes_t n =
            snd_pcm_writei(pcm, samples.data() + done, static_cast<snd_pcm_uframes_t>(samples.size() - done));
        if (n < 0)
        {
            ok = snd_pcm_recover(pcm, static_cast<int>(n), 1) == 0;
            continue;
        }
        done += static_cast<std::size_t>(n);
    }
    if (ok)
        snd_pcm_drain(pcm);
    snd_pcm_close(pcm);
    return ok;
}

} // namespace

sound_player::~sound_player()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
        m_queue.clear();
    }
    m_cond.notify_all();
    if (m_worker.joinable())
        m_worker.join();
}

void sound_player::play(std::span<const tone> signal)
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_stop)
            return;
        m_queue.emplace_back(signal.begin(), signal.end());
        if (!m_worker.joinable())
            m_worker = std::thread([this] { worker_main(); });
    }
    m_cond.notify_one();
}

unsigned sound_player::finished() const
{
    const std::lock_guard lock(m_mutex);
    return m_finished;
}

std::vector<std::int16_t> sound_player::synthesise(std::span<const tone> signal, unsigned rate)
{
    std::vector<std::int16_t> out;
    const unsigned fade = std::max(1u, rate / 200);
    for (const tone& t : signal)
    {
        const std::size_t count = static_cast<std::size_t>(rate) * t.ms / 1000;
        const double step = 2.0 * std::numbers::pi * t.hertz / rate;
        for (std::size_t i = 0; i < count; ++i)
        {
            double gain = 1.0;
            if (i < fade)
                gain = static_cast<double>(i) / fade;
            else if (count - i <= fade)
                gain = static_cast<double>(count - i - 1) / fade;
            out.push_back(static_cast<std::int16_t>(
                std::lround(amplitude * gain * std::sin(step * static_cast<double>(i)))));
        }
    }
    return out;
}

void sound_player::worker_main()
{
    snd_lib_error_set_handler(quiet_alsa_errors);
    std::unique_lock lock(m_mutex);
    for (;;)
    {
        m_cond.wait(lock, [this] { return m_stop || !m_queue.empty(); });
        if (m_stop)
            return;
        const std::vector<tone> signal = std::move(m_queue.front());
        m_queue.pop_front();
        lock.unlock();
        static_cast<void>(play_samples(synthesise(signal, sample_rate)));
        lock.lock();
        ++m_finished;
    }
}

} // namespace torrent
