#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "metainfo/base_error.h"
#include "metainfo/bencode.h"
#include "metainfo/file_entry.h"
#include "metainfo/info_hash.h"
#include "metainfo/info_layout.h"
#include "metainfo/torrent_metainfo.h"
#include "metainfo/torrent_summary.h"
#include "metainfo/tracker_urls.h"
#include "support/temp_dir.h"

namespace torrent
{
namespace
{

std::string s(std::string_view text)
{
    return std::to_string(text.size()) + ":" + std::string(text);
}

std::string i(std::int64_t n)
{
    return "i" + std::to_string(n) + "e";
}

std::string file(std::int64_t length, const std::vector<std::string>& path)
{
    std::string p = "l";
    for (const auto& c : path)
        p += s(c);
    return "d" + s("length") + i(length) + s("path") + p + "ee";
}

std::string multi_info(
    std::int64_t piece_length,
    const std::vector<std::string>& files,
    std::size_t digests,
    std::string_view name = "top")
{
    std::string list = "l";
    for (const auto& f : files)
        list += f;
    return "d" + s("files") + list + "e" + s("name") + s(name) + s("piece length") + i(piece_length)
        + s("pieces") + s(std::string(digests * 20, 'h')) + "e";
}

std::string single_info(
    std::int64_t length,
    std::int64_t piece_length,
    std::size_t pieces_bytes,
    std::string_view name = "one.bin")
{
    return "d" + s("length") + i(length) + s("name") + s(name) + s("piece length") + i(piece_length)
        + s("pieces") + s(std::string(pieces_bytes, 'h')) + "e";
}

bvalue decode(const std::string& text)
{
    bvalue v;
    EXPECT_EQ(decode_bvalue(text, v), text.size()) << text;
    return v;
}

int code_of(const std::function<void()>& f)
{
    try
    {
        f();
    }
    catch (const base_error& e)
    {
        return e.code();
    }
    return 0;
}

int layout_code(const std::string& info)
{
    const bvalue v = decode(info);
    return code_of([&] { (void)parse_info_layout(v); });
}

TEST(FileEntryReader, PlaceholderNeedsZeroLength)
{
    const bvalue files = decode("l" + file(0, {"a", "", "b"}) + file(5, {"a", "", "b"}) + "e");
    file_entry_reader reader(files);
    file_entry e;
    reader.read(e);
    EXPECT_TRUE(e.placeholder);
    EXPECT_EQ(e.path, (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(code_of([&] { reader.read(e); }), err::invalid_file_entry);
}

TEST(FileEntryReader, RunningOffsetsAndEndOfList)
{
    const bvalue files = decode("l" + file(10, {"x"}) + file(7, {"d", "y"}) + "e");
    file_entry_reader reader(files);
    file_entry a;
    file_entry b;
    reader.read(a);
    reader.read(b);
    EXPECT_EQ(a.offset, 0U);
    EXPECT_EQ(b.offset, 10U);
    EXPECT_EQ(b.size, 7U);
    EXPECT_FALSE(b.placeholder);
    EXPECT_TRUE(reader.at_end());
    EXPECT_EQ(reader.running_offset(), 17U);
    EXPECT_EQ(code_of([&] { reader.read(a); }), err::past_last_entry);
}

TEST(FileEntryReader, SizeLimits)
{
    const auto read_one = [](const std::string& entry)
    {
        const bvalue files = decode("l" + entry + "e");
        file_entry_reader reader(files);
        file_entry e;
        return code_of([&] { reader.read(e); });
    };
    EXPECT_EQ(read_one(file(std::int64_t{1} << 35, {"big"})), 0);
    EXPECT_EQ(read_one(file((std::int64_t{1} << 35) + 1, {"big"})), err::invalid_file_entry);
    EXPECT_EQ(read_one(file(-1, {"neg"})), err::invalid_file_entry);
    EXPECT_EQ(read_one(file(1, {})), err::invalid_file_entry);
    EXPECT_EQ(read_one("d" + s("length") + i(1) + "e"), err::kind_mismatch);
    EXPECT_EQ(read_one("d" + s("length") + i(1) + s("path") + "l" + i(3) + "ee"), err::kind_mismatch);
}

TEST(FileEntryReader, RefusesComponentsThatLeaveTheSaveFolder)
{
    for (const std::string& bad :
         std::vector<std::string>{"..", ".", "a/b", "/etc", "/", std::string("a\0b", 3)})
    {
        const bvalue files = decode("l" + file(1, {"dir", bad}) + "e");
        file_entry_reader reader(files);
        file_entry e;
        EXPECT_EQ(code_of([&] { reader.read(e); }), err::invalid_file_entry) << bad;
    }
    // Names that merely look odd are fine on Linux.
    for (const std::string_view ok : {"...", "..a", ".hidden", "a\\b", "\xe4\xb8\xad\xe6\x96\x87", " "})
        EXPECT_TRUE(is_safe_path_component(ok)) << ok;
}

TEST(FileEntryReader, PathsDeeperOrLongerThanTheSystemTakesAreRefusedAtOnce)
{
    std::string why;
    auto refused = [&](const std::vector<std::string>& path)
    {
        const bvalue files = decode("l" + file(1, path) + "e");
        file_entry_reader reader(files, &why);
        file_entry e;
        return code_of([&] { reader.read(e); }) == err::invalid_file_entry;
    };
    EXPECT_FALSE(refused(std::vector<std::string>(max_path_components, "d")));
    EXPECT_TRUE(refused(std::vector<std::string>(5000, "d")));
    EXPECT_NE(why.find("5000 components deep; at most 128"), std::string::npos) << why;
    EXPECT_FALSE(refused({std::string(255, 'n')}));
    EXPECT_TRUE(refused({std::string(256, 'n')}));
    EXPECT_NE(why.find("longer than the system allows (255)"), std::string::npos) << why;
    // 20 components of 250 bytes: each fits, the whole path does not.
    EXPECT_TRUE(refused(std::vector<std::string>(20, std::string(250, 'p'))));
    EXPECT_NE(why.find("the system allows 4095"), std::string::npos) << why;
}

TEST(FileEntryReader, MoreFilesThanTheLimitAreRefusedWithTheCount)
{
    std::string list = "l";
    for (std::size_t n = 0; n <= max_file_count; ++n)
        list += "i0e";
    const bvalue files = decode(list + "e");
    std::string why;
    EXPECT_EQ(code_of([&] { file_entry_reader reader(files, &why); }), err::invalid_info);
    EXPECT_EQ(why, "100001 files; at most 100000 are supported");
}

TEST(Bencode, DecodeStopsAtItsValueBudget)
{
    bvalue v;
    bool over = false;
    EXPECT_EQ(decode_bvalue("li1ei2ee", v, 3, &over), 8u);
    EXPECT_FALSE(over);
    EXPECT_EQ(decode_bvalue("li1ei2ei3ee", v, 3, &over), 0u);
    EXPECT_TRUE(over);
    EXPECT_EQ(v.kind(), bvalue_kind::none);
}

TEST(InfoLayout, PadFilesMayShareAPathAndAreNeverSelected)
{
    auto pad = [](std::int64_t length)
    {
        return "d" + s("attr") + s("p") + s("length") + i(length) + s("path") + "l" + s(".pad")
            + s(std::to_string(length)) + "ee";
    };
    // a [0,10) pad [10,16) b [16,26) pad [26,32) c [32,40): pieces of 16 bytes.
    const bvalue v =
        decode(multi_info(16, {file(10, {"a"}), pad(6), file(10, {"b"}), pad(6), file(8, {"c"})}, 3));
    const info_layout layout = parse_info_layout(v);
    ASSERT_EQ(layout.files.size(), 5u);
    EXPECT_TRUE(layout.files[1].pad);
    EXPECT_TRUE(layout.files[3].pad);
    EXPECT_FALSE(layout.files[1].selected);
    EXPECT_FALSE(layout.files[0].pad);
    EXPECT_EQ(layout.total_size, 40u);
    EXPECT_EQ(layout.selected_size, 28u);
    EXPECT_EQ(layout.files[2].offset, 16u);
    // The same path twice without "attr" is refused.
    EXPECT_EQ(
        layout_code(multi_info(16, {file(10, {"a"}), file(6, {"x"}), file(6, {"x"})}, 2)),
        err::invalid_file_entry);
}

TEST(InfoLayout, PieceCountMustMatchTheTotalSize)
{
    const int pl = 16384;
    EXPECT_EQ(layout_code(multi_info(pl, {file(49152, {"a"})}, 3)), 0);
    EXPECT_EQ(layout_code(multi_info(pl, {file(49152, {"a"})}, 4)), err::invalid_info);
    EXPECT_EQ(layout_code(multi_info(pl, {file(49153, {"a"})}, 3)), err::invalid_info);
    EXPECT_EQ(layout_code(multi_info(pl, {file(49000, {"a"}), file(153, {"b"})}, 4)), 0);
    EXPECT_EQ(layout_code(single_info(100, pl, 41)), err::invalid_info); // not a multiple of 20
    EXPECT_EQ(layout_code(single_info(0, pl, 0)), err::invalid_info); // total size 0
    EXPECT_EQ(layout_code(single_info(-1, pl, 20)), err::invalid_info);
}

TEST(InfoLayout, RefusesBadPieceLengthAndName)
{
    EXPECT_EQ(layout_code(single_info(100, 0, 20)), err::invalid_info);
    EXPECT_EQ(layout_code(single_info(100, -16384, 20)), err::invalid_info);
    EXPECT_EQ(layout_code(single_info(100, (std::int64_t{1} << 32) + 16384, 20)), err::invalid_info);
    EXPECT_EQ(layout_code(single_info(100, 16384, 20, "..")), err::invalid_info);
    EXPECT_EQ(layout_code(single_info(100, 16384, 20, "a/b")), err::invalid_info);
    EXPECT_EQ(layout_code(multi_info(16384, {file(1, {"a"})}, 1, ".")), err::invalid_info);
    EXPECT_EQ(layout_code(multi_info(16384, {file(1, {".."})}, 1)), err::invalid_file_entry);
}

TEST(InfoLayout, RefusesTwoEntriesForOneFile)
{
    EXPECT_EQ(
        layout_code(multi_info(16384, {file(1, {"d", "a"}), file(1, {"d", "a"})}, 1)),
        err::invalid_file_entry);
    EXPECT_EQ(
        layout_code(multi_info(16384, {file(1, {"d", "a"}), file(0, {"d", "a"})}, 1)),
        err::invalid_file_entry);
    EXPECT_EQ(layout_code(multi_info(16384, {file(1, {"d", "a"}), file(1, {"d", "A"})}, 1)), 0);
    // Padding entries are never created, so they may share a path.
    EXPECT_EQ(layout_code(multi_info(16384, {file(0, {""}), file(1, {"a"}), file(0, {""})}, 1)), 0);
}

TEST(InfoLayout, NeedsFilesOrLength)
{
    EXPECT_EQ(
        layout_code("d" + s("name") + s("x") + s("piece length") + i(16) + s("pieces") + s("") + "e"),
        err::invalid_info);
    EXPECT_EQ(layout_code(multi_info(16, {}, 0)), err::invalid_info);
    EXPECT_EQ(layout_code("d" + s("length") + i(5) + s("name") + s("x") + "e"), err::kind_mismatch);
}

TEST(InfoLayout, FileTableAndPieceGeometry)
{
    const std::string text = multi_info(
        16384, {file(16384, {"a"}), file(0, {"pad", ""}), file(20000, {"sub", "b"}), file(100, {"c"})}, 3);
    const bvalue info = decode(text);
    const info_layout l = parse_info_layout(info);
    EXPECT_TRUE(l.multi_file);
    EXPECT_EQ(l.name, "top");
    ASSERT_EQ(l.files.size(), 4U);
    EXPECT_EQ(l.total_size, 36484U);
    EXPECT_EQ(l.piece_count(), 3U);
    EXPECT_EQ(l.piece_size(0), 16384U);
    EXPECT_EQ(l.piece_size(2), 36484U - 32768U);
    // end_piece is (offset + size) / piece_length: one past the last piece at a boundary.
    EXPECT_EQ(l.files[0].first_piece, 0);
    EXPECT_EQ(l.files[0].end_piece, 1);
    EXPECT_TRUE(l.files[1].placeholder);
    EXPECT_EQ(l.files[2].offset, 16384U);
    EXPECT_EQ(l.files[2].first_piece, 1);
    EXPECT_EQ(l.files[2].end_piece, 2);
    EXPECT_EQ(l.files[3].first_piece, 2);
    // The digests are a view into the decoded tree, not a copy.
    EXPECT_EQ(l.pieces.data(), info["pieces"].as_string().data());
    std::string hex_of_h;
    for (int k = 0; k < 20; ++k)
        hex_of_h += "68"; // 'h'
    EXPECT_EQ(l.piece_hash_text(1), hex_of_h);

    info_layout chosen = l;
    file_selection sel;
    sel.chosen = {false, true, true}; // index 3 lies beyond the record: chosen
    chosen.apply_selection(sel);
    EXPECT_FALSE(chosen.files[0].selected);
    EXPECT_TRUE(chosen.files[3].selected);
    EXPECT_EQ(chosen.selected_size, 20100U);
}

TEST(InfoLayout, RefusalsSayWhatIsWrong)
{
    const auto why_of = [](const std::string& text)
    {
        const bvalue info = decode(text);
        std::string why;
        try
        {
            (void)parse_info_layout(info, &why);
        }
        catch (const base_error&)
        {
        }
        return why;
    };
    EXPECT_EQ(why_of("d" + s("name") + s("x") + "e"), "\"piece length\" is missing");
    EXPECT_EQ(why_of(single_info(100, 0, 20)), "piece length 0 is not between 1 and 2^31-1");
    EXPECT_EQ(
        why_of(multi_info(16384, {file(1, {"a"}), file(1, {"b", ".."})}, 1)),
        "file 1: unsafe path component \"..\"");
    EXPECT_EQ(
        why_of(multi_info(16384, {file(49153, {"a"})}, 3)),
        "3 piece digests where 49153 bytes in pieces of 16384 need 4");
    EXPECT_EQ(why_of(single_info(100, 16384, 20)), "");
}

TEST(InfoLayout, SingleFileEndPieceIsTheLastPiece)
{
    const bvalue info = decode(single_info(40000, 16384, 60));
    const info_layout l = parse_info_layout(info);
    EXPECT_FALSE(l.multi_file);
    ASSERT_EQ(l.files.size(), 1U);
    EXPECT_EQ(l.files[0].path, std::vector<std::string>{"one.bin"});
    EXPECT_EQ(l.files[0].first_piece, 0);
    EXPECT_EQ(l.files[0].end_piece, 2);
    EXPECT_EQ(l.selected_size, 40000U);
}

std::string torrent_text(const std::string& info, const std::string& extra = s("announce") + s("http://t/a"))
{
    return "d" + extra + s("info") + info + "e";
}

summary_result
summarize(const std::string& text, torrent_summary& out, const file_selection_source* sel = nullptr)
{
    metainfo_result r = metainfo_result::invalid;
    const auto meta = torrent_metainfo::from_bytes(text, r);
    if (!meta)
        return summary_result::invalid;
    return read_torrent_summary(*meta, out, sel);
}

TEST(LightReader, IsMoreLenientThanTheFullLoad)
{
    torrent_summary sum;
    ASSERT_EQ(summarize(torrent_text(single_info(0, 16384, 0)), sum), summary_result::ok);
    EXPECT_EQ(sum.total_size, 0U);
    ASSERT_EQ(summarize(torrent_text(single_info(100, 16384, 41)), sum), summary_result::ok);
    EXPECT_EQ(sum.piece_count, 2);
    EXPECT_EQ(summarize(torrent_text(single_info(100, 0, 20)), sum), summary_result::invalid);
    EXPECT_EQ(summarize(torrent_text(single_info(100, 16384, 20, "..")), sum), summary_result::invalid);
    EXPECT_EQ(summarize(torrent_text(multi_info(16384, {}, 0)), sum), summary_result::invalid);
    EXPECT_EQ(summarize("d4:infoi1ee", sum), summary_result::invalid);
    EXPECT_EQ(summarize("l", sum), summary_result::invalid);
}

class fixed_selection : public file_selection_source
{
public:
    std::optional<file_selection> load(std::string_view name) const override
    {
        if (name != "top")
            return std::nullopt;
        file_selection sel;
        sel.chosen = {true, false};
        return sel;
    }
};

TEST(LightReader, MultiFileRowsAndSelection)
{
    const std::string text =
        torrent_text(multi_info(16384, {file(100, {"a"}), file(16384, {"d", "b"}), file(5, {"c"})}, 2));
    torrent_summary sum;
    sum.selected_size = 12345;
    ASSERT_EQ(summarize(text, sum), summary_result::ok);
    EXPECT_EQ(sum.selected_size, 12345U); // no selection source: left alone
    EXPECT_TRUE(sum.multi_file);
    EXPECT_EQ(sum.total_size, 16489U);
    ASSERT_EQ(sum.files.size(), 3U);
    EXPECT_EQ(sum.files[1].display_path, "top/d/b");
    EXPECT_EQ(sum.files[1].first_piece, 0);
    EXPECT_EQ(sum.files[1].end_piece, 1);
    EXPECT_EQ(sum.files[2].offset, 16484U);
    const fixed_selection sel;
    ASSERT_EQ(summarize(text, sum, &sel), summary_result::ok);
    EXPECT_EQ(sum.selected_size, 105U);
}

TEST(LightReader, PadFilesAreLeftOutOfTheFilesAUserSees)
{
    test::temp_dir dir;
    const std::string pad =
        "d" + s("attr") + s("p") + s("length") + i(6) + s("path") + "l" + s(".pad") + s("6") + "ee";
    const std::string path = dir.write(
        "t.torrent",
        "d" + s("announce") + s("http://x/") + s("info")
            + multi_info(16, {file(10, {"a"}), pad, file(10, {"b"})}, 2) + "e");
    torrent_summary summary;
    ASSERT_EQ(read_torrent_summary(path, summary), summary_result::ok);
    ASSERT_EQ(summary.files.size(), 3u);
    EXPECT_TRUE(summary.files[1].pad);
    EXPECT_EQ(user_file_indices(summary), (std::vector<std::size_t>{0, 2}));
}

TEST(LightReader, FileResults)
{
    test::temp_dir dir;
    torrent_summary sum;
    EXPECT_EQ(read_torrent_summary(dir / "absent.torrent", sum), summary_result::unreadable);
    EXPECT_EQ(read_torrent_summary(dir.path(), sum), summary_result::unreadable);
    EXPECT_EQ(read_torrent_summary(dir.write("bad.torrent", "garbage"), sum), summary_result::invalid);
    const std::string good = torrent_text(single_info(5, 16384, 20));
    ASSERT_EQ(read_torrent_summary(dir.write("good.torrent", good), sum), summary_result::ok);
    EXPECT_EQ(sum.name, "one.bin");
    EXPECT_EQ(sum.piece_length, 16384);
    EXPECT_EQ(sum.info_hash, compute_info_hash(single_info(5, 16384, 20)));
}

TEST(InfoHash, HashesTheInfoDictionaryAsStored)
{
    // Keys out of order and a repeated key: re-encoding would change the bytes, and every
    // other client hashes the bytes as stored.
    const std::string info = "d" + s("name") + s("x") + s("length") + i(5) + s("piece length") + i(16384)
        + s("pieces") + s(std::string(20, 'p')) + s("name") + s("x") + "e";
    metainfo_result r = metainfo_result::invalid;
    const auto meta = torrent_metainfo::from_bytes(torrent_text(info) + "trailing", r);
    ASSERT_EQ(r, metainfo_result::ok);
    EXPECT_EQ(meta->info_bytes(), info);
    EXPECT_EQ(meta->info_hash_text(), digest_to_hex(sha1(std::string_view(info), err::info_hash)));
    EXPECT_NE(meta->info_hash_text(), compute_info_hash(encode_bvalue(meta->info())));
    sha1_digest raw{};
    ASSERT_TRUE(hex_to_digest(meta->info_hash_text(), raw));
    EXPECT_EQ(raw, meta->info_hash());
}

TEST(TorrentMetainfo, RefusesRootsWithoutAnInfoDictionary)
{
    metainfo_result r = metainfo_result::ok;
    for (const char* bad : {"", "i1e", "le", "de", "d4:infoi1ee", "d4:infold", "d4:infoleee"})
    {
        EXPECT_EQ(torrent_metainfo::from_bytes(bad, r), nullptr) << bad;
        EXPECT_EQ(r, metainfo_result::invalid) << bad;
    }
    EXPECT_EQ(torrent_metainfo::load_file("/nonexistent/x.torrent", r), nullptr);
    EXPECT_EQ(r, metainfo_result::unreadable);
}

TEST(TrackerUrls, AnnounceFirstThenTiersUntilAWrongKind)
{
    bvalue root = decode("d8:announce3:url13:announce-listll3:url5:othere5:otheree");
    std::vector<std::string> urls{"kept"};
    EXPECT_TRUE(append_tracker_urls(root, urls));
    EXPECT_EQ(urls, (std::vector<std::string>{"kept", "url", "url", "other"}));

    root = decode("d8:announce1:a13:announce-listll1:be5:otherl1:ceee");
    urls.clear();
    EXPECT_TRUE(append_tracker_urls(root, urls));
    EXPECT_EQ(urls, (std::vector<std::string>{"a", "b"}));

    root = decode("d8:announce1:a13:announce-listll1:bi5e1:cee4:infodee");
    urls.clear();
    EXPECT_TRUE(append_tracker_urls(root, urls));
    EXPECT_EQ(urls, (std::vector<std::string>{"a", "b"}));

    // No announce: the add refuses it, but the list is still reported.
    root = decode("d13:announce-listll1:beee");
    urls.clear();
    EXPECT_FALSE(append_tracker_urls(root, urls));
    EXPECT_EQ(urls, std::vector<std::string>{"b"});
    root = decode("d8:announcei1ee");
    urls.clear();
    EXPECT_FALSE(append_tracker_urls(root, urls));
    EXPECT_TRUE(urls.empty());
}

} // namespace
} // namespace torrent
