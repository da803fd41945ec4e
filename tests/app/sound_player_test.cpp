#include "app/sound_player.h"

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "support/process_env.h"

namespace torrent
{
namespace
{

TEST(SoundPlayer, TonesHaveTheirLengthsAndStartAndEndSilent)
{
    const auto samples = sound_player::synthesise(sounds::beep_done, 8000);
    EXPECT_EQ(samples.size(), (150u + 150u + 250u) * 8);
    EXPECT_EQ(samples.front(), 0);
    EXPECT_EQ(samples[150 * 8 - 1], 0); // faded out before the next tone
    std::int16_t loudest = 0;
    for (const std::int16_t s : samples)
        loudest = std::max<std::int16_t>(loudest, s);
    EXPECT_GT(loudest, 4000);
    EXPECT_EQ(sound_player::synthesise(sounds::chime_connected, 1000).size(), 500u);
    EXPECT_EQ(sound_player::synthesise(sounds::beep_alert, 1000).size(), 300u);
}

TEST(SoundPlayer, PlayNeverWaitsAndASignalWithoutADeviceIsDropped)
{
    // No configuration names a device: the open fails and the signal is dropped.
    test::scoped_env config("ALSA_CONFIG_PATH", std::string("/nonexistent/alsa.conf"));
    sound_player player;
    const auto start = std::chrono::steady_clock::now();
    player.play(sounds::chime_connected);
    player.play(sounds::beep_done);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
    for (int i = 0; i < 400 && player.finished() < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(player.finished(), 2u);
}

} // namespace
} // namespace torrent
