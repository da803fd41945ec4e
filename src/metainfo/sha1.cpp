#include "metainfo/sha1.h"

#include <openssl/evp.h>

#include "metainfo/base_error.h"

namespace torrent
{

void sha1_hasher::context_deleter::operator()(evp_md_ctx_st* ctx) const noexcept
{
    EVP_MD_CTX_free(ctx);
}

sha1_hasher::sha1_hasher(std::uint8_t fail_code)
    : m_ctx(EVP_MD_CTX_new())
    , m_fail_code(fail_code)
{
    if (!m_ctx || EVP_DigestInit_ex(m_ctx.get(), EVP_sha1(), nullptr) != 1)
        throw base_error(m_fail_code);
}

sha1_hasher::~sha1_hasher() = default;

void sha1_hasher::update(std::span<const std::byte> bytes)
{
    if (!m_ctx || EVP_DigestUpdate(m_ctx.get(), bytes.data(), bytes.size()) != 1)
        throw base_error(m_fail_code);
}

void sha1_hasher::update(std::string_view bytes)
{
    update(std::as_bytes(std::span(bytes.data(), bytes.size())));
}

sha1_digest sha1_hasher::finish()
{
    sha1_digest out{};
    unsigned int size = 0;
    if (!m_ctx || EVP_DigestFinal_ex(m_ctx.get(), out.data(), &size) != 1 || size != out.size())
        throw base_error(m_fail_code);
    m_ctx.reset();
    return out;
}

sha1_digest sha1(std::span<const std::span<const std::byte>> spans, std::uint8_t fail_code)
{
    sha1_hasher h(fail_code);
    for (const auto& s : spans)
        h.update(s);
    return h.finish();
}

sha1_digest sha1(std::span<const std::byte> bytes, std::uint8_t fail_code)
{
    sha1_hasher h(fail_code);
    h.update(bytes);
    return h.finish();
}

sha1_digest sha1(std::string_view bytes, std::uint8_t fail_code)
{
    sha1_hasher h(fail_code);
    h.update(bytes);
    return h.finish();
}

std::string digest_to_hex(const sha1_digest& digest)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out(digest.size() * 2, '0');
    for (std::size_t i = 0; i < digest.size(); ++i)
    {
        out[2 * i] = digits[digest[i] >> 4];
        out[2 * i + 1] = digits[digest[i] & 0x0F];
    }
    return out;
}

namespace
{

int hex_value(char c) noexcept
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

bool hex_to_digest(std::string_view text, sha1_digest& out) noexcept
{
    if (text.size() != out.size() * 2)
        return false;
    sha1_digest d{};
    for (std::size_t i = 0; i < d.size(); ++i)
    {
        const int hi = hex_value(text[2 * i]);
        const int lo = hex_value(text[2 * i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        d[i] = static_cast<std::uint8_t>(hi * 16 + lo);
    }
    out = d;
    return true;
}

} // namespace torrent
