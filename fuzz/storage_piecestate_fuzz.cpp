// The piece-state file loader: a torrent of 20 pieces is added over a state file holding
// the input. Up to 3 bytes are taken as the have bitmap (spare bits ignored); a longer file
// is refused and left as it is. Nothing stays open either way.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/paths.h"
#include "metainfo/base_error.h"
#include "metainfo/bencode.h"
#include "metainfo/sha1.h"
#include "metainfo/torrent_metainfo.h"
#include "storage/torrent_manager.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace
{

using namespace torrent;

struct fixture
{
    std::string folder;
    std::string torrent_path;
    std::string state_path; // the folder and the info-hash
    std::uint32_t pieces = 20;

    fixture()
    {
        char pattern[] = "/tmp/zorvik-fuzz-XXXXXX";
        if (::mkdtemp(pattern) == nullptr)
            std::abort();
        folder = pattern;
        // Two files over 20 pieces of 1 KiB; the last piece is short.
        const std::string a(12000, 'a');
        const std::string b(7800, 'b');
        const std::string payload = a + b;
        make_folders(join_path(folder, "T"));
        std::string digests;
        for (std::size_t at = 0; at < payload.size(); at += 1024)
        {
            const sha1_digest d = sha1(std::string_view(payload).substr(at, 1024), err::piece_hash);
            digests.append(reinterpret_cast<const char*>(d.data()), d.size());
        }
        bvalue info = bvalue::make_dictionary();
        info.slot("name") = bvalue(std::string("T"));
        info.slot("piece length") = bvalue(std::int64_t{1024});
        info.slot("pieces") = bvalue(digests);
        bvalue& files = info.slot("files");
        files = bvalue::make_list();
        for (const auto& [name, content] : {std::pair{"a", &a}, std::pair{"b", &b}})
        {
            bvalue& f = files.append();
            f = bvalue::make_dictionary();
            f.slot("length") = bvalue(static_cast<std::int64_t>(content->size()));
            bvalue& path = f.slot("path");
            path = bvalue::make_list();
            path.append() = bvalue(std::string(name));
            if (!write_file_atomically(join_path(folder, std::string("T/") + name), *content))
                std::abort();
        }
        bvalue root = bvalue::make_dictionary();
        root.slot("announce") = bvalue(std::string("http://127.0.0.1/a"));
        root.slot("info") = std::move(info);
        torrent_path = join_path(folder, "t.torrent");
        const std::string bytes = encode_bvalue(root);
        if (!write_file_atomically(torrent_path, bytes))
            std::abort();
        metainfo_result r{};
        const auto metainfo = torrent_metainfo::from_bytes(bytes, r);
        if (metainfo == nullptr)
            std::abort();
        state_path = join_path(folder, metainfo->info_hash_text());
    }

    ~fixture()
    {
        for (const char* name : {"T/a", "T/b", "t.torrent"})
            ::unlink(join_path(folder, name).c_str());
        ::unlink(state_path.c_str());
        ::rmdir(join_path(folder, "T").c_str());
        ::rmdir(folder.c_str());
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static fixture f;
    const std::string input(reinterpret_cast<const char*>(data), size);
    if (!write_file_atomically(f.state_path, input))
        std::abort();
    torrent_manager manager({}, f.folder + "/");
    std::string hash;
    std::vector<std::string> urls;
    const add_result r = manager.add_torrent(f.torrent_path, f.folder, f.folder, hash, urls);
    if (size > 3)
    {
        std::string after;
        if (r != add_result::cannot_open || !read_whole_file(f.state_path, after) || after != input)
            std::abort();
    }
    else
    {
        if (r != add_result::added)
            std::abort();
        bitfield have;
        if (!manager.copy_have(hash, have) || have.bit_count() != f.pieces)
            std::abort();
        for (std::uint32_t i = 0; i < f.pieces; ++i)
        {
            const bool saved = i / 8 < size && (data[i / 8] & (0x80u >> (i % 8))) != 0;
            if (have.test(i) != saved)
                std::abort();
        }
        manager.remove_torrent(hash);
    }
    ::unlink(f.state_path.c_str());
    return 0;
}
