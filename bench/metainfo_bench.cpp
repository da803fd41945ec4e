// Metainfo hot paths: loading a large .torrent (decode, info-hash, file table), decoding a
// tracker answer, and SHA-1 over piece-sized spans against one call over the same bytes.
#include <cstdint>
#include <cstdio>
#include <openssl/evp.h>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "metainfo/base_error.h"
#include "metainfo/bencode.h"
#include "metainfo/bnode.h"
#include "metainfo/info_layout.h"
#include "metainfo/sha1.h"
#include "metainfo/torrent_metainfo.h"
#include "metainfo/torrent_summary.h"
#include "support/temp_dir.h"

namespace
{

std::string bstr(std::string_view s)
{
    std::string out = std::to_string(s.size());
    out += ':';
    out += s;
    return out;
}

std::string bint(std::int64_t n)
{
    std::string out = "i";
    out += std::to_string(n);
    out += 'e';
    return out;
}

// 100,000 pieces of 256 KiB over 10,000 files in nested folders: about 5 MB.
const std::string& large_torrent()
{
    static const std::string text = []
    {
        constexpr std::uint64_t piece_length = 256 * 1024;
        constexpr std::uint64_t pieces = 100000;
        constexpr std::uint64_t files = 10000;
        const std::uint64_t total = piece_length * pieces - 12345;
        std::string list = "l";
        std::uint64_t used = 0;
        char name[200];
        for (std::uint64_t i = 0; i < files; ++i)
        {
            const std::uint64_t size = i + 1 == files ? total - used : total / files - (i % 97) * 1000;
            used += size;
            std::snprintf(
                name,
                sizeof(name),
                "Some.Long.Series.Name.S%02lluE%05llu.A.Rather.Long.Episode.Title.With.Many.Words.In.It."
                "Remastered.Extended.Edition.1080p.WEB-DL.DDP5.1.H.264-GROUP.mkv",
                static_cast<unsigned long long>(i / 500),
                static_cast<unsigned long long>(i));
            char folder[32];
            std::snprintf(folder, sizeof(folder), "season_%02llu", static_cast<unsigned long long>(i / 500));
            list += std::string("d") + bstr("length") + bint(static_cast<std::int64_t>(size)) + bstr("path")
                + "l" + bstr(folder)
                + bstr("Extras and Bonus Material (Behind the Scenes, Interviews, Deleted Scenes, Commentary "
                       "Tracks)")
                + bstr(name) + "ee";
        }
        list += "e";
        std::string digests(pieces * 20, '\0');
        for (std::size_t i = 0; i < digests.size(); ++i)
            digests[i] = static_cast<char>(i * 2654435761U >> 24);
        const std::string info = std::string("d") + bstr("files") + list + bstr("name")
            + bstr("a large collection") + bstr("piece length")
            + bint(static_cast<std::int64_t>(piece_length)) + bstr("pieces") + bstr(digests) + "e";
        return std::string("d") + bstr("announce") + bstr("http://127.0.0.1:6969/announce") + bstr("info")
            + info + "e";
    }();
    return text;
}

void BM_DecodeLargeTorrent(benchmark::State& state)
{
    const std::string& text = large_torrent();
    for (auto _ : state)
    {
        torrent::bvalue root;
        benchmark::DoNotOptimize(torrent::decode_bvalue(text, root));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
    state.counters["bytes"] = static_cast<double>(text.size());
}

BENCHMARK(BM_DecodeLargeTorrent)->Unit(benchmark::kMillisecond);

// The whole full load: read the file, decode, hash the info dictionary, build the file table.
void BM_FullLoadLargeTorrent(benchmark::State& state)
{
    torrent::test::temp_dir dir;
    const std::string path = dir.write("large.torrent", large_torrent());
    for (auto _ : state)
    {
        torrent::metainfo_result r = torrent::metainfo_result::invalid;
        const auto meta = torrent::torrent_metainfo::load_file(path, r);
        if (!meta)
            state.SkipWithError("load failed");
        const torrent::info_layout layout = torrent::parse_info_layout(meta->info());
        benchmark::DoNotOptimize(layout.files.data());
    }
}

BENCHMARK(BM_FullLoadLargeTorrent)->Unit(benchmark::kMillisecond);

void BM_LightReaderLargeTorrent(benchmark::State& state)
{
    torrent::test::temp_dir dir;
    const std::string path = dir.write("large.torrent", large_torrent());
    for (auto _ : state)
    {
        torrent::torrent_summary summary;
        if (torrent::read_torrent_summary(path, summary) != torrent::summary_result::ok)
            state.SkipWithError("light reader failed");
        benchmark::DoNotOptimize(summary.files.data());
    }
}

BENCHMARK(BM_LightReaderLargeTorrent)->Unit(benchmark::kMillisecond);

// The stream decoder as the format describes it, from an input stream.
void BM_ReadBvalueStreamLargeTorrent(benchmark::State& state)
{
    const std::string& text = large_torrent();
    for (auto _ : state)
    {
        std::istringstream in(text);
        torrent::bvalue root;
        torrent::read_bvalue(in, root);
        benchmark::DoNotOptimize(root.kind());
    }
}

BENCHMARK(BM_ReadBvalueStreamLargeTorrent)->Unit(benchmark::kMillisecond);

// A 1 MiB tracker answer with dictionary peers (the costly form: many small nodes).
std::string dict_peer_answer()
{
    std::string peers = "l";
    for (int i = 0; peers.size() < 1024 * 1024 - 200; ++i)
    {
        char ip[32];
        std::snprintf(ip, sizeof(ip), "10.%d.%d.%d", (i >> 16) & 255, (i >> 8) & 255, i & 255);
        peers += std::string("d") + bstr("ip") + bstr(ip) + bstr("peer id") + bstr(std::string(20, 'p'))
            + bstr("port") + bint(6881 + i % 1000) + "e";
    }
    peers += "e";
    return std::string("d") + bstr("interval") + bint(1800) + bstr("peers") + peers + "e";
}

void BM_ParseBnodeDictPeers1MiB(benchmark::State& state)
{
    const std::string text = dict_peer_answer();
    for (auto _ : state)
    {
        auto root = torrent::parse_bnode(text);
        benchmark::DoNotOptimize(root.get());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
    state.counters["peers"] =
        static_cast<double>(torrent::bnode_find(torrent::parse_bnode(text).get(), "peers")->size());
}

BENCHMARK(BM_ParseBnodeDictPeers1MiB)->Unit(benchmark::kMillisecond);

void BM_ParseBnodeCompactPeers1MiB(benchmark::State& state)
{
    const std::string text = std::string("d") + bstr("interval") + bint(1800) + bstr("peers")
        + bstr(std::string(1024 * 1024, 'x')) + "e";
    for (auto _ : state)
    {
        auto root = torrent::parse_bnode(text);
        benchmark::DoNotOptimize(root.get());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

BENCHMARK(BM_ParseBnodeCompactPeers1MiB)->Unit(benchmark::kMillisecond);

constexpr std::size_t gib = std::size_t{1} << 30;

const std::vector<std::byte>& one_gib()
{
    static const std::vector<std::byte> data = []
    {
        std::vector<std::byte> v(gib);
        for (std::size_t i = 0; i < v.size(); i += 4096)
            v[i] = static_cast<std::byte>(i >> 12);
        return v;
    }();
    return data;
}

// One OpenSSL call over the whole gibibyte.
void BM_Sha1OneCall1GiB(benchmark::State& state)
{
    const auto& data = one_gib();
    for (auto _ : state)
    {
        unsigned char md[EVP_MAX_MD_SIZE];
        unsigned int len = 0;
        EVP_Digest(data.data(), data.size(), md, &len, EVP_sha1(), nullptr);
        benchmark::DoNotOptimize(md);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * gib));
}

BENCHMARK(BM_Sha1OneCall1GiB)->Unit(benchmark::kMillisecond)->UseRealTime();

// One digest of the same bytes fed as piece-sized spans.
void BM_Sha1Spans1GiB(benchmark::State& state)
{
    const auto& data = one_gib();
    const auto piece = static_cast<std::size_t>(state.range(0));
    std::vector<std::span<const std::byte>> spans;
    for (std::size_t at = 0; at < data.size(); at += piece)
        spans.emplace_back(data.data() + at, piece);
    for (auto _ : state)
        benchmark::DoNotOptimize(torrent::sha1(spans, torrent::err::piece_hash));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * gib));
}

BENCHMARK(BM_Sha1Spans1GiB)
    ->Arg(16 * 1024)
    ->Arg(256 * 1024)
    ->Arg(4 * 1024 * 1024)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Piece verification's shape: one digest (a new context) per piece.
void BM_Sha1PerPiece1GiB(benchmark::State& state)
{
    const auto& data = one_gib();
    const auto piece = static_cast<std::size_t>(state.range(0));
    for (auto _ : state)
    {
        for (std::size_t at = 0; at < data.size(); at += piece)
            benchmark::DoNotOptimize(
                torrent::sha1(std::span<const std::byte>(data.data() + at, piece), torrent::err::piece_hash));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * gib));
}

BENCHMARK(BM_Sha1PerPiece1GiB)
    ->Arg(16 * 1024)
    ->Arg(256 * 1024)
    ->Arg(4 * 1024 * 1024)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace
