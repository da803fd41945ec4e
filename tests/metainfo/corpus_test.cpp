#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "metainfo/base_error.h"
#include "metainfo/info_layout.h"
#include "metainfo/torrent_metainfo.h"
#include "metainfo/torrent_summary.h"
#include "metainfo/tracker_urls.h"
#include "support/process_env.h"

namespace torrent
{
namespace
{

namespace fs = std::filesystem;

// The corpus of good and malformed .torrent files (tests/data/torrents), with the verdicts another
// implementation gives them (expectations.tsv: file, bytes, verdict, error, ...).
struct corpus_file
{
    std::string name;
    std::string verdict;
    std::string error;
};

std::vector<corpus_file> corpus()
{
    const fs::path root = fs::path(test::testdata_folder()) / "torrents";
    std::map<std::string, std::pair<std::string, std::string>> verdicts;
    std::ifstream tsv(root / "expectations.tsv");
    std::string line;
    std::getline(tsv, line); // header
    while (std::getline(tsv, line))
    {
        std::istringstream fields(line);
        std::string name;
        std::string bytes;
        std::string verdict;
        std::string error;
        std::getline(fields, name, '\t');
        std::getline(fields, bytes, '\t');
        std::getline(fields, verdict, '\t');
        std::getline(fields, error, '\t');
        verdicts[name] = {verdict, error};
    }
    std::vector<corpus_file> out;
    for (const auto& entry : fs::recursive_directory_iterator(root))
    {
        if (entry.path().extension() != ".torrent")
            continue;
        const std::string rel = fs::relative(entry.path(), root).string();
        const auto found = verdicts.find(rel);
        if (found == verdicts.end())
            out.push_back({entry.path().string(), "unknown", ""});
        else
            out.push_back({entry.path().string(), found->second.first, found->second.second});
    }
    return out;
}

struct outcome
{
    bool loaded = false;
    summary_result summary = summary_result::invalid;
    int layout_code = -1; // 0 accepted
    info_layout layout;
    std::shared_ptr<const torrent_metainfo> meta;
};

outcome run_all_readers(const std::string& path)
{
    outcome o;
    metainfo_result r = metainfo_result::invalid;
    o.meta = torrent_metainfo::load_file(path, r);
    torrent_summary sum;
    o.summary = read_torrent_summary(path, sum);
    if (!o.meta)
        return o;
    o.loaded = true;
    std::vector<std::string> urls;
    (void)append_tracker_urls(o.meta->root(), urls);
    try
    {
        o.layout = parse_info_layout(o.meta->info());
        o.layout_code = 0;
    }
    catch (const base_error& e)
    {
        o.layout_code = e.code();
    }
    return o;
}

TEST(TorrentCorpus, EveryFileGetsADefiniteAnswer)
{
    const auto files = corpus();
    ASSERT_GE(files.size(), 100U) << "corpus not found under " << test::testdata_folder();
    int accepted = 0;
    for (const corpus_file& f : files)
    {
        SCOPED_TRACE(f.name);
        const outcome o = run_all_readers(f.name);
        if (o.layout_code != 0)
            continue;
        ++accepted;
        // The light reader accepts whatever the full load accepts.
        EXPECT_EQ(o.summary, summary_result::ok);
        // Anything accepted stays inside its save folder.
        EXPECT_TRUE(is_safe_path_component(o.layout.name));
        for (const file_entry& e : o.layout.files)
        {
            ASSERT_FALSE(e.path.empty());
            for (const std::string& c : e.path)
            {
                EXPECT_TRUE(is_safe_path_component(c)) << c;
                EXPECT_TRUE(!c.empty() || e.placeholder);
            }
        }
        EXPECT_EQ(o.layout.piece_count(), (o.layout.total_size - 1) / o.layout.piece_length + 1);
    }
    EXPECT_GT(accepted, 30);
}

TEST(TorrentCorpus, WhatTheOtherImplementationRejectsIsRejected)
{
    for (const corpus_file& f : corpus())
    {
        if (f.verdict != "rejected")
            continue;
        // Hybrid torrents whose only defect lies in the second-version keys ("file tree",
        // "piece layers"), which this client does not read: their classic part is sound.
        if (f.error == "torrent_inconsistent_files" || f.error == "torrent_file_parse_failed"
            || f.error == "torrent_invalid_piece_layer")
            continue;
        SCOPED_TRACE(f.name);
        const outcome o = run_all_readers(f.name);
        EXPECT_NE(o.layout_code, 0);
    }
}

TEST(TorrentCorpus, LargeSingleFileNeedsSixtyFourBitSizes)
{
    const auto path = fs::path(test::testdata_folder()) / "torrents" / "large.torrent";
    const outcome o = run_all_readers(path.string());
    ASSERT_EQ(o.layout_code, 0);
    EXPECT_EQ(o.layout.total_size, 5242880000U);
    EXPECT_EQ(o.layout.piece_count(), 5000U);
    EXPECT_EQ(o.layout.piece_length, 1048576U);
}

} // namespace
} // namespace torrent
