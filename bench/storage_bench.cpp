// Storage throughput: hashing pieces through mapped views (against OpenSSL over the same
// memory already mapped), writing blocks through write_block, the cost of first writes to
// fresh pages through a mapping against pwrite, and the unpaced full check.
// The data files live in $ZORVIK_BENCH_DIR (default /dev/shm) and are removed afterwards.
//   storage_bench --benchmark_filter=CheckPiece
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <openssl/evp.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include "base/event.h"
#include "base/paths.h"
#include "base/unique_fd.h"
#include "metainfo/bencode.h"
#include "metainfo/torrent_metainfo.h"
#include "storage/torrent_data.h"
#include "storage/torrent_storage.h"

namespace
{

using namespace torrent;

std::string bench_folder()
{
    const char* dir = std::getenv("ZORVIK_BENCH_DIR");
    std::string pattern = join_path(dir != nullptr && *dir != '\0' ? dir : "/dev/shm", "zorvik-bench-XXXXXX");
    if (::mkdtemp(pattern.data()) == nullptr)
        std::abort();
    return pattern;
}

// A single-file torrent "data.bin" of `size` bytes whose digests are real only when
// `content` is given (writing needs no digests).
std::shared_ptr<const torrent_metainfo>
make_metainfo(std::uint64_t size, std::uint32_t piece_length, const std::byte* content)
{
    const std::uint64_t pieces = (size + piece_length - 1) / piece_length;
    std::string digests(pieces * 20, '\0');
    if (content != nullptr)
    {
        for (std::uint64_t i = 0; i < pieces; ++i)
        {
            const std::uint64_t at = i * piece_length;
            const auto len = static_cast<std::size_t>(std::min<std::uint64_t>(piece_length, size - at));
            unsigned int n = 0;
            EVP_Digest(
                content + at,
                len,
                reinterpret_cast<unsigned char*>(&digests[i * 20]),
                &n,
                EVP_sha1(),
                nullptr);
        }
    }
    bvalue info = bvalue::make_dictionary();
    info.slot("name") = bvalue(std::string("data.bin"));
    info.slot("length") = bvalue(static_cast<std::int64_t>(size));
    info.slot("piece length") = bvalue(std::int64_t{piece_length});
    info.slot("pieces") = bvalue(std::move(digests));
    bvalue root = bvalue::make_dictionary();
    root.slot("announce") = bvalue(std::string("http://127.0.0.1/a"));
    root.slot("info") = std::move(info);
    metainfo_result r{};
    auto m = torrent_metainfo::from_bytes(encode_bvalue(root), r);
    if (m == nullptr)
        std::abort();
    return m;
}

// A file of pseudo-random bytes, kept in the page cache, and its mapping.
struct data_file
{
    std::string folder;
    std::string path;
    std::uint64_t size;
    std::byte* map = nullptr;

    explicit data_file(std::uint64_t bytes)
        : folder(bench_folder())
        , path(join_path(folder, "data.bin"))
        , size(bytes)
    {
        unique_fd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
        if (!fd || ::posix_fallocate(fd.get(), 0, static_cast<off_t>(size)) != 0)
            std::abort();
        void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd.get(), 0);
        if (p == MAP_FAILED)
            std::abort();
        map = static_cast<std::byte*>(p);
        std::uint64_t x = 88172645463325252ull;
        auto* words = reinterpret_cast<std::uint64_t*>(map);
        for (std::uint64_t i = 0; i < size / 8; ++i)
        {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            words[i] = x;
        }
    }

    ~data_file()
    {
        ::munmap(map, size);
        ::unlink(path.c_str());
        ::rmdir(folder.c_str());
    }

    data_file(const data_file&) = delete;
    data_file& operator=(const data_file&) = delete;
};

void BM_CheckPieceMapped(benchmark::State& state)
{
    const auto piece_length = static_cast<std::uint32_t>(state.range(0));
    data_file file(std::uint64_t{256} << 20);
    torrent_storage storage;
    bool is_new = false;
    if (storage.open_storage(make_metainfo(file.size, piece_length, file.map), file.folder, is_new)
        != open_storage_result::ok)
        std::abort();
    const std::uint32_t n = storage.piece_count();
    std::uint32_t i = 0;
    for (auto _ : state)
    {
        storage.have().set(i, false);
        piece_buffer piece = storage.read_piece(i, false, true, true);
        if (!storage.check_piece(piece))
            state.SkipWithError("piece did not verify");
        i = (i + 1) % n;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * piece_length);
}

void BM_Sha1OpenSSLSameMemory(benchmark::State& state)
{
    const auto piece_length = static_cast<std::uint32_t>(state.range(0));
    data_file file(std::uint64_t{256} << 20);
    const std::uint64_t n = file.size / piece_length;
    std::uint64_t i = 0;
    unsigned char digest[20];
    for (auto _ : state)
    {
        unsigned int len = 0;
        EVP_Digest(file.map + i * piece_length, piece_length, digest, &len, EVP_sha1(), nullptr);
        benchmark::DoNotOptimize(digest);
        i = (i + 1) % n;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * piece_length);
}

// 1 GiB written as 16 KiB blocks through write_block, into the page cache.
void BM_WriteBlocks(benchmark::State& state)
{
    const std::uint64_t size = std::uint64_t{1} << 30;
    const auto piece_length = static_cast<std::uint32_t>(state.range(0));
    const std::string folder = bench_folder();
    {
        torrent_storage storage;
        bool is_new = false;
        if (storage.open_storage(make_metainfo(size, piece_length, nullptr), folder, is_new)
            != open_storage_result::ok)
            std::abort();
        std::string block(16384, 'x');
        const std::span<const std::byte> bytes(
            reinterpret_cast<const std::byte*>(block.data()), block.size());
        std::uint64_t at = 0;
        for (auto _ : state)
        {
            block_request b{
                static_cast<std::uint32_t>(at / piece_length),
                static_cast<std::uint32_t>(at % piece_length),
                16384,
                &storage,
                0};
            if (!storage.write_block(b, bytes))
                state.SkipWithError("write failed");
            at = (at + 16384) % size;
        }
        state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 16384);
    }
    ::unlink(join_path(folder, "data.bin").c_str());
    ::rmdir(folder.c_str());
}

// The block path alone, with the pages already in place: 16 KiB blocks read (uploads) or
// written again (a rewrite of data already allocated and touched) through read_block and
// write_block, in order over 64 MiB. Measures what each block costs on top of the copy:
// the piece lookup, the view, the length check and the fault guard.
void BM_BlockPath(benchmark::State& state)
{
    const bool writing = state.range(1) != 0;
    const auto piece_length = static_cast<std::uint32_t>(state.range(0));
    data_file file(std::uint64_t{64} << 20);
    torrent_storage storage;
    bool is_new = false;
    if (storage.open_storage(make_metainfo(file.size, piece_length, file.map), file.folder, is_new)
        != open_storage_result::ok)
        std::abort();
    std::string block(16384, 'x');
    std::uint64_t at = 0;
    for (auto _ : state)
    {
        block_request b{
            static_cast<std::uint32_t>(at / piece_length),
            static_cast<std::uint32_t>(at % piece_length),
            16384,
            &storage,
            0};
        const bool ok = writing
            ? storage.write_block(
                b, std::span<const std::byte>(reinterpret_cast<const std::byte*>(block.data()), block.size()))
            : storage.read_block(
                  b, std::span<std::byte>(reinterpret_cast<std::byte*>(block.data()), block.size()))
                == 16384;
        if (!ok)
            state.SkipWithError("block transfer failed");
        benchmark::DoNotOptimize(block.data());
        at = (at + 16384) % file.size;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 16384);
}

// The floor under every mapped write: 1 GiB of a freshly sized file written once as 16 KiB
// blocks, through 2 MiB mapped windows faulted in up front (as the storage maps them), or
// with pwrite for comparison. On a virtual machine every page first touched through a user
// mapping costs a page-table update in the hypervisor as well, which pwrite (the kernel's own
// mapping) never pays.
void BM_FreshPages(benchmark::State& state)
{
    const bool mapped = state.range(0) != 0;
    const std::uint64_t size = std::uint64_t{1} << 30;
    const std::size_t window = std::size_t{2} << 20;
    const std::string folder = bench_folder();
    const std::string path = join_path(folder, "fresh.bin");
    std::string block(16384, 'x');
    for (auto _ : state)
    {
        state.PauseTiming();
        ::unlink(path.c_str());
        unique_fd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
        if (!fd || ::posix_fallocate(fd.get(), 0, static_cast<off_t>(size)) != 0)
            std::abort();
        state.ResumeTiming();
        for (std::uint64_t w = 0; w < size; w += window)
        {
            if (mapped)
            {
                void* p = ::mmap(
                    nullptr, window, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), static_cast<off_t>(w));
                if (p == MAP_FAILED)
                    std::abort();
#ifdef MADV_POPULATE_WRITE
                ::madvise(p, window, MADV_POPULATE_WRITE);
#endif
                for (std::size_t at = 0; at < window; at += block.size())
                    std::memcpy(static_cast<char*>(p) + at, block.data(), block.size());
                ::munmap(p, window);
            }
            else
            {
                for (std::size_t at = 0; at < window; at += block.size())
                    if (::pwrite(fd.get(), block.data(), block.size(), static_cast<off_t>(w + at)) < 0)
                        std::abort();
            }
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
    ::unlink(path.c_str());
    ::rmdir(folder.c_str());
}

// The unpaced full check of 1 GiB already on disk, as `zorvik-cli check --fast` runs it.
void BM_FullCheckUnpaced(benchmark::State& state)
{
    const auto piece_length = static_cast<std::uint32_t>(state.range(0));
    data_file file(std::uint64_t{1} << 30);
    torrent_data data;
    const std::string home = join_path(file.folder, "home");

    class none final : public file_selection_source
    {
    public:
        std::optional<file_selection> load(std::string_view) const override { return std::nullopt; }
    } no_choice;

    if (data.load(make_metainfo(file.size, piece_length, file.map), file.folder, home, &no_choice)
        == load_result::cannot_open)
        std::abort();
    event stop;
    for (auto _ : state)
    {
        const auto workers = static_cast<unsigned>(state.range(1));
        if (data.check_existing_data({}, stop, 0, workers)
            != static_cast<std::int64_t>(data.storage().piece_count()))
            state.SkipWithError("check failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file.size));
    data.close();
    ::unlink(data.state_path().c_str());
    ::rmdir(home.c_str());
}

} // namespace

BENCHMARK(BM_CheckPieceMapped)->Arg(256 << 10)->Arg(1 << 20)->Arg(4 << 20);
BENCHMARK(BM_Sha1OpenSSLSameMemory)->Arg(256 << 10)->Arg(1 << 20)->Arg(4 << 20);
BENCHMARK(BM_BlockPath)->ArgsProduct({{262144, 4194304}, {0, 1}});
BENCHMARK(BM_WriteBlocks)
    ->Arg(256 << 10)
    ->Arg(1 << 20)
    ->Arg(4 << 20)
    ->Iterations(65536)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FreshPages)->ArgName("mapped")->Arg(1)->Arg(0)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FullCheckUnpaced)
    ->Args({256 << 10, 1})
    ->Args({256 << 10, 2})
    ->Args({4 << 20, 1})
    ->Args({4 << 20, 2})
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
