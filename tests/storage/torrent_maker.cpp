#include "torrent_maker.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "base/paths.h"
#include "base/unique_fd.h"
#include "metainfo/base_error.h"
#include "metainfo/bencode.h"
#include "metainfo/sha1.h"

namespace torrent::test
{

std::string pattern_bytes(std::size_t size, std::uint32_t seed)
{
    std::string out(size, '\0');
    std::uint32_t x = seed * 2654435761u + 12345u;
    for (char& c : out)
    {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x & 0xFF);
    }
    return out;
}

namespace
{

std::string piece_digests(const std::string& payload, std::uint32_t piece_length)
{
    std::string pieces;
    for (std::size_t at = 0; at < payload.size(); at += piece_length)
    {
        const std::string_view part = std::string_view(payload).substr(at, piece_length);
        const sha1_digest d = sha1(part, err::piece_hash);
        pieces.append(reinterpret_cast<const char*>(d.data()), d.size());
    }
    return pieces;
}

made_torrent finish(bvalue info, std::string payload, std::uint32_t piece_length)
{
    made_torrent t;
    t.payload = std::move(payload);
    t.piece_length = piece_length;
    t.piece_count = static_cast<std::uint32_t>((t.payload.size() + piece_length - 1) / piece_length);
    info.slot("piece length") = bvalue(std::int64_t{piece_length});
    info.slot("pieces") = bvalue(piece_digests(t.payload, piece_length));
    bvalue root = bvalue::make_dictionary();
    root.slot("announce") = bvalue(std::string("http://127.0.0.1:6969/announce"));
    root.slot("info") = std::move(info);
    t.bytes = encode_bvalue(root);
    t.info_hash = load_made(t)->info_hash_text();
    return t;
}

} // namespace

made_torrent
make_multi_file(const std::string& name, const std::vector<payload_file>& files, std::uint32_t piece_length)
{
    bvalue info = bvalue::make_dictionary();
    info.slot("name") = bvalue(name);
    bvalue& list = info.slot("files");
    list = bvalue::make_list();
    std::string payload;
    for (const payload_file& f : files)
    {
        bvalue& entry = list.append();
        entry = bvalue::make_dictionary();
        entry.slot("length") = bvalue(static_cast<std::int64_t>(f.data.size()));
        bvalue& path = entry.slot("path");
        path = bvalue::make_list();
        for (const std::string& c : f.path)
            path.append() = bvalue(c);
        if (f.pad)
            entry.slot("attr") = bvalue(std::string("p"));
        payload += f.data;
    }
    return finish(std::move(info), std::move(payload), piece_length);
}

made_torrent make_single_file(const std::string& name, const std::string& data, std::uint32_t piece_length)
{
    bvalue info = bvalue::make_dictionary();
    info.slot("name") = bvalue(name);
    info.slot("length") = bvalue(static_cast<std::int64_t>(data.size()));
    return finish(std::move(info), data, piece_length);
}

std::shared_ptr<const torrent_metainfo> load_made(const made_torrent& t)
{
    metainfo_result r = metainfo_result::invalid;
    auto m = torrent_metainfo::from_bytes(t.bytes, r);
    EXPECT_NE(m, nullptr);
    return m;
}

void write_payload(const std::string& folder, const std::vector<payload_file>& files)
{
    for (const payload_file& f : files)
    {
        if (f.pad)
            continue; // never on disk
        std::string path = folder;
        for (const std::string& c : f.path)
            path = join_path(path, c);
        make_folders(std::string(parent_of(path)));
        ASSERT_TRUE(write_file_atomically(path, f.data)) << path;
    }
}

void flip_byte(const std::string& path, std::uint64_t offset)
{
    unique_fd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC));
    ASSERT_TRUE(fd) << path;
    char c = 0;
    ASSERT_EQ(::pread(fd.get(), &c, 1, static_cast<off_t>(offset)), 1);
    c = static_cast<char>(c ^ 1);
    ASSERT_EQ(::pwrite(fd.get(), &c, 1, static_cast<off_t>(offset)), 1);
}

std::string read_file(const std::string& path)
{
    std::string out;
    read_whole_file(path, out, std::size_t{1} << 30);
    return out;
}

bool exists(const std::string& path)
{
    struct stat st
    {
    };

    return ::lstat(path.c_str(), &st) == 0;
}

} // namespace torrent::test
