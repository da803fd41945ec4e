#pragma once

#include <optional>
#include <string>
#include <vector>

#include "metainfo/file_selection.h"
#include "storage/picker_sink.h"

namespace torrent::test
{

// A file choice handed straight to the storage.
class fixed_selection final : public file_selection_source
{
public:
    explicit fixed_selection(std::vector<bool> chosen) { m_selection.chosen = std::move(chosen); }

    [[nodiscard]] std::optional<file_selection> load(std::string_view) const override { return m_selection; }

private:
    file_selection m_selection;
};

// Stand-in for the engine's picker: a piece is complete when every one of its blocks
// (16 KiB and the remainder) has been received.
class counting_picker final : public picker_sink
{
public:
    counting_picker(std::uint32_t piece_count, std::uint32_t piece_length, std::uint64_t total)
        : m_piece_length(piece_length)
        , m_total(total)
        , m_received(piece_count)
    {
    }

    bool mark_received(peer_key, const block_request& block) override
    {
        auto& got = m_received[block.index];
        if (got.empty())
            got.assign(blocks_in(block.index), false);
        const std::uint32_t k = block.offset / block_size;
        if (k >= got.size() || got[k])
            return false;
        got[k] = true;
        for (const bool b : got)
        {
            if (!b)
                return false;
        }
        return true;
    }

    [[nodiscard]] bool is_received(const block_request& block) const override
    {
        const auto& got = m_received[block.index];
        const std::uint32_t k = block.offset / block_size;
        return k < got.size() && got[k];
    }

    void drop_piece(std::uint32_t index) override
    {
        m_received[index].clear();
        dropped.push_back(index);
    }

    void piece_passed(std::uint32_t index) override { passed.push_back(index); }

    std::vector<std::uint32_t> dropped;
    std::vector<std::uint32_t> passed;
    static constexpr std::uint32_t block_size = 16384;

private:
    [[nodiscard]] std::size_t blocks_in(std::uint32_t index) const
    {
        const std::uint64_t start = std::uint64_t{index} * m_piece_length;
        const std::uint64_t size = std::min<std::uint64_t>(m_piece_length, m_total - start);
        return static_cast<std::size_t>((size + block_size - 1) / block_size);
    }

    std::uint32_t m_piece_length;
    std::uint64_t m_total;
    std::vector<std::vector<bool>> m_received;
};

} // namespace torrent::test
