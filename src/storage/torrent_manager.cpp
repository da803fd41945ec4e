#include "storage/torrent_manager.h"

#include "base/data_folder.h"
#include "metainfo/torrent_metainfo.h"
#include "metainfo/tracker_urls.h"
#include "storage/selection_record.h"

namespace torrent
{

torrent_manager::torrent_manager(picker_factory make_picker, std::string selection_folder)
    : m_make_picker(std::move(make_picker))
    , m_selection_folder(selection_folder.empty() ? data_folder() : std::move(selection_folder))
{
}

add_result torrent_manager::add_torrent(
    const std::string& torrent_path,
    const std::string& data_folder,
    const std::string& save_folder,
    std::string& info_hash,
    std::vector<std::string>& trackers,
    storage_error* why,
    open_mode mode)
{
    storage_error ignored;
    storage_error& detail = why != nullptr ? *why : ignored;
    detail = {};
    metainfo_result read = metainfo_result::invalid;
    std::shared_ptr<const torrent_metainfo> metainfo;
    try
    {
        metainfo = torrent_metainfo::load_file(torrent_path, read, &detail.reason);
    }
    catch (const std::exception&)
    {
        detail.fault = storage_fault::invalid;
        return add_result::invalid;
    }
    if (read == metainfo_result::unreadable)
    {
        detail.reason.clear();
        return add_result::unreadable;
    }
    if (metainfo == nullptr)
    {
        detail.fault = storage_fault::invalid;
        return add_result::invalid;
    }

    if (!append_tracker_urls(metainfo->root(), trackers))
    {
        detail.fault = storage_fault::invalid;
        detail.reason = "\"announce\" is missing or not a string";
        return add_result::invalid;
    }

    // A torrent that is already loaded holds its files locked, so loading it a second time
    // would fail on them: answer "already loaded" first.
    if (m_table.contains(metainfo->info_hash_text()))
    {
        info_hash = metainfo->info_hash_text();
        return add_result::duplicate;
    }

    auto data = std::make_shared<torrent_data>();
    const state_file_selection_source selection(save_folder, m_selection_folder);
    const load_result loaded = data->load(metainfo, save_folder, data_folder, &selection, mode);
    detail = data->open_error();
    add_result result = add_result::added;
    switch (loaded)
    {
    case load_result::ok:
        result = add_result::added;
        break;
    case load_result::needs_check:
        result = add_result::needs_check;
        break;
    case load_result::no_space:
        return add_result::no_space;
    case load_result::invalid:
        return add_result::invalid;
    case load_result::state_file_failed:
    case load_result::cannot_open:
        return add_result::cannot_open;
    }

    info_hash = data->info_hash();
    if (m_make_picker)
        data->set_picker(m_make_picker(*data));
    if (!m_table.insert(info_hash, data))
        return add_result::duplicate; // added meanwhile by another thread; ours closes here
    return result;
}

void torrent_manager::remove_torrent(std::string_view info_hash)
{
    if (std::shared_ptr<torrent_data> data = m_table.erase(info_hash))
        data->close();
}

std::shared_ptr<torrent_data> torrent_manager::find_torrent(std::string_view info_hash) const
{
    return m_table.find(info_hash);
}

bool torrent_manager::copy_have(std::string_view info_hash, bitfield& out) const
{
    const auto data = m_table.find(info_hash);
    if (data == nullptr)
        return false;
    data->copy_have(out);
    return true;
}

bool torrent_manager::copy_have_wanted(std::string_view info_hash, bitfield& out) const
{
    const auto data = m_table.find(info_hash);
    if (data == nullptr)
        return false;
    data->copy_have_wanted(out);
    return true;
}

write_result torrent_manager::write_block_and_verify(
    std::string_view info_hash, peer_key peer, block_request& block, std::span<const std::byte> bytes)
{
    if (bytes.empty())
        return write_result::nothing_stored;
    const auto data = m_table.find(info_hash);
    if (data == nullptr)
        return write_result::nothing_stored;
    return data->write_block_and_verify(peer, block, bytes);
}

block_wanted_result
torrent_manager::block_wanted(std::string_view info_hash, const block_request& block) const
{
    const auto data = m_table.find(info_hash);
    if (data == nullptr)
        return block_wanted_result::unknown_torrent;
    return data->block_wanted(block);
}

std::int64_t
torrent_manager::read_block(std::string_view info_hash, block_request& block, std::span<std::byte> out)
{
    const auto data = m_table.find(info_hash);
    if (data == nullptr)
        return -1;
    return data->read_block(block, out);
}

} // namespace torrent
