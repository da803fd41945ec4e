#include "metainfo/bencode.h"

#include <istream>
#include <ostream>

namespace torrent
{

void read_bvalue(std::istream& in, bvalue& out)
{
    out.reset();
    in.setstate(std::ios::failbit);
}

std::size_t decode_bvalue(std::string_view, bvalue& out)
{
    out.reset();
    return 0;
}

void write_bvalue(std::ostream&, const bvalue&) {}

void encode_bvalue(const bvalue&, std::string&) {}

std::string encode_bvalue(const bvalue& value)
{
    std::string out;
    encode_bvalue(value, out);
    return out;
}

} // namespace torrent
