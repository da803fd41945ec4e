// Piece picker cost per request on a large torrent: 100,000 pieces, 50 peers.
//   cmake -S . -B build-bench-engine -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_BENCHMARKS=ON
//   cmake --build build-bench-engine --target engine_bench && build-bench-engine/bench/engine_bench
// Only batches of pick_block calls are timed (manual time); answering requests and
// verifying pieces between them is not. ns_per_pick is the figure to read.
#include <chrono>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "engine/piece_picker.h"

namespace
{

using torrent::block_request;
using torrent::PiecePicker;

constexpr std::uint32_t piece_count = 100000;
constexpr std::uint32_t peer_count = 50;
constexpr std::size_t max_outstanding = 16;

// A swarm of peers: the first ten are seeds, the others hold about 70% of the pieces.
struct swarm
{
    swarm(std::uint32_t piece_length, std::uint32_t seed)
        : picker(piece_count, piece_length, std::uint64_t{piece_count} * piece_length, seed)
        , lists(peer_count)
    {
        std::mt19937 rng(seed);
        std::vector<std::uint8_t> bytes((piece_count + 7) / 8);
        for (std::uint32_t p = 0; p < peer_count; ++p)
        {
            for (auto& b : bytes)
            {
                std::uint32_t v = 0;
                for (int bit = 0; bit < 8; ++bit)
                    v = (v << 1) | ((p < 10 || rng() % 10 < 7) ? 1U : 0U);
                b = static_cast<std::uint8_t>(v);
            }
            picker.set_peer_bitfield(p, bytes, piece_count);
            lists[p].reserve(max_outstanding + 1);
        }
    }

    // The peer answers its oldest request; a completed piece is verified at once.
    void answer_oldest(std::uint32_t p)
    {
        auto& list = lists[p];
        const block_request b = list.front();
        list.erase(list.begin());
        if (picker.mark_received(p, b))
            picker.piece_passed(b.index);
    }

    PiecePicker picker;
    std::vector<std::vector<block_request>> lists;
};

using bench_clock = std::chrono::steady_clock;

// Reports the timed seconds per pick as ns_per_pick.
void report(benchmark::State& state, double seconds, std::int64_t picks)
{
    state.SetItemsProcessed(picks);
    state.counters["ns_per_pick"] = picks != 0 ? seconds * 1e9 / static_cast<double>(picks) : 0.0;
}

// Each round, every peer fills its request slots (timed), then answers its four oldest
// requests (not timed), so the picks mix continuing started pieces with new ones.
void run_steady(benchmark::State& state, std::uint32_t piece_length)
{
    std::uint32_t seed = 1;
    auto s = std::make_unique<swarm>(piece_length, seed);
    std::int64_t picks = 0;
    double seconds = 0;
    for (auto _ : state)
    {
        std::int64_t round = 0;
        const auto t0 = bench_clock::now();
        for (std::uint32_t p = 0; p < peer_count; ++p)
        {
            auto& list = s->lists[p];
            while (list.size() < max_outstanding)
            {
                const std::size_t before = list.size();
                s->picker.pick_block(p, list);
                ++round;
                if (list.size() == before)
                    break;
            }
        }
        const double dt = std::chrono::duration<double>(bench_clock::now() - t0).count();
        state.SetIterationTime(dt);
        seconds += dt;
        picks += round;
        for (std::uint32_t p = 0; p < peer_count; ++p)
        {
            for (int k = 0; k < 4 && !s->lists[p].empty(); ++k)
                s->answer_oldest(p);
        }
        if (s->picker.have_count() == piece_count)
            s = std::make_unique<swarm>(piece_length, ++seed);
    }
    report(state, seconds, picks);
    state.counters["partial_pieces"] = static_cast<double>(s->picker.partial_piece_count());
}

// 256 KiB pieces (16 blocks): most picks continue a piece already started for the peer.
void BM_PickBlock_256KiBPieces(benchmark::State& state)
{
    run_steady(state, 256 * 1024);
}

// 16 KiB pieces (one block each): every pick searches the bitfield for a new piece.
void BM_PickBlock_OneBlockPieces(benchmark::State& state)
{
    run_steady(state, 16 * 1024);
}

// The last 20 pieces, every block already asked of the ten seeds: the other peers
// duplicate requests (end game). Requests handed out are never answered here.
void BM_PickBlock_EndGame(benchmark::State& state)
{
    constexpr std::uint32_t piece_length = 256 * 1024;
    constexpr std::uint32_t missing = 20;
    auto make = [&]
    {
        auto s = std::make_unique<swarm>(piece_length, 3);
        std::vector<std::uint8_t> have((piece_count + 7) / 8, 0xFF);
        for (std::uint32_t i = piece_count - missing; i < piece_count; ++i)
            have[i / 8] = static_cast<std::uint8_t>(have[i / 8] & ~(0x80U >> (i % 8)));
        s->picker.assign_have(have);
        // The ten seeds ask for all 20 x 16 blocks between them.
        for (std::uint32_t p = 0; p < 10; ++p)
        {
            for (std::size_t k = 0; k < 2 * max_outstanding; ++k)
                s->picker.pick_block(p, s->lists[p]);
        }
        return s;
    };
    auto s = make();
    std::int64_t picks = 0;
    double seconds = 0;
    for (auto _ : state)
    {
        const auto t0 = bench_clock::now();
        for (std::uint32_t p = 10; p < peer_count; ++p)
            s->picker.pick_block(p, s->lists[p]);
        const double dt = std::chrono::duration<double>(bench_clock::now() - t0).count();
        state.SetIterationTime(dt);
        seconds += dt;
        picks += peer_count - 10;
        for (std::uint32_t p = 10; p < peer_count; ++p)
        {
            if (s->lists[p].size() >= max_outstanding)
                s->lists[p].clear(); // forget the duplicates without freeing the blocks
        }
    }
    report(state, seconds, picks);
}

} // namespace

BENCHMARK(BM_PickBlock_256KiBPieces)->UseManualTime();
BENCHMARK(BM_PickBlock_OneBlockPieces)->UseManualTime();
BENCHMARK(BM_PickBlock_EndGame)->UseManualTime();
