#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

// OpenSSL's digest context (EVP_MD_CTX), declared here so that users need no OpenSSL headers.
struct evp_md_ctx_st;

namespace torrent
{

// A 20-byte SHA-1 digest, bytes in digest order.
using sha1_digest = std::array<std::uint8_t, 20>;

// Incremental SHA-1 through OpenSSL's EVP interface. Every platform failure raises
// base_error with the code given at construction (err::info_hash for the info-hash,
// err::piece_hash for pieces). One object computes one digest.
class sha1_hasher
{
public:
    explicit sha1_hasher(std::uint8_t fail_code);
    ~sha1_hasher();
    sha1_hasher(const sha1_hasher&) = delete;
    sha1_hasher& operator=(const sha1_hasher&) = delete;

    void update(std::span<const std::byte> bytes);
    void update(std::string_view bytes);
    // The digest of everything fed so far; the hasher is finished afterwards.
    [[nodiscard]] sha1_digest finish();

private:
    struct context_deleter
    {
        void operator()(evp_md_ctx_st* ctx) const noexcept;
    };

    std::unique_ptr<evp_md_ctx_st, context_deleter> m_ctx;
    std::uint8_t m_fail_code;
};

// SHA-1 of the concatenation of spans, in the order given (pieces are hashed straight from
// their mapped views, span by span). Raises base_error(fail_code) when hashing fails.
[[nodiscard]] sha1_digest sha1(std::span<const std::span<const std::byte>> spans, std::uint8_t fail_code);
[[nodiscard]] sha1_digest sha1(std::span<const std::byte> bytes, std::uint8_t fail_code);
[[nodiscard]] sha1_digest sha1(std::string_view bytes, std::uint8_t fail_code);

// 40 characters: the digest bytes in order as upper-case hexadecimal
// (SHA-1 of "abc" -> A9993E364706816ABA3E25717850C26C9CD0D89D).
[[nodiscard]] std::string digest_to_hex(const sha1_digest& digest);

// Reverse of digest_to_hex (either letter case); false for anything but 40 hex digits.
[[nodiscard]] bool hex_to_digest(std::string_view text, sha1_digest& out) noexcept;

} // namespace torrent
