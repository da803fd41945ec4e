#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "metainfo/torrent_metainfo.h"

namespace torrent::test
{

// One file of a torrent made for a test: its path below the torrent folder and its bytes.
struct payload_file
{
    std::vector<std::string> path;
    std::string data;
    bool pad = false; // a padding file ("attr" "p"): data must be zeros, not written to disk
};

// A .torrent built in memory from a payload.
struct made_torrent
{
    std::string bytes; // the .torrent file
    std::string info_hash; // 40 upper-case hex characters
    std::string payload; // every file's bytes in order
    std::uint32_t piece_length = 0;
    std::uint32_t piece_count = 0;
};

// Deterministic bytes (a simple generator seeded by `seed`).
[[nodiscard]] std::string pattern_bytes(std::size_t size, std::uint32_t seed);

// Multi-file torrent "name" over the files (their data is hashed in order).
[[nodiscard]] made_torrent
make_multi_file(const std::string& name, const std::vector<payload_file>& files, std::uint32_t piece_length);

// Single-file torrent "name" over data.
[[nodiscard]] made_torrent
make_single_file(const std::string& name, const std::string& data, std::uint32_t piece_length);

// Decoded metainfo of a made torrent (asserts it is valid).
[[nodiscard]] std::shared_ptr<const torrent_metainfo> load_made(const made_torrent& t);

// Writes each file's data below folder (creating subfolders).
void write_payload(const std::string& folder, const std::vector<payload_file>& files);

// Flips the lowest bit of one byte of a file in place (the same inode, as a disk error
// or another program would).
void flip_byte(const std::string& path, std::uint64_t offset);

// Reads the whole file ("" when missing).
[[nodiscard]] std::string read_file(const std::string& path);

// True when path exists in any form.
[[nodiscard]] bool exists(const std::string& path);

} // namespace torrent::test
