#include "Compression.h"

#include "HttpText.h"

#include <isa-l/igzip_lib.h>
#include <zlib.h>

#include <cctype>
#include <cstdint>
#include <stdexcept>

namespace quorvel::server::compression {

bool acceptsGzip(std::string_view acceptEncoding) {
    while (!acceptEncoding.empty()) {
        const std::size_t comma = acceptEncoding.find(',');
        std::string_view item = acceptEncoding.substr(0, comma);
        acceptEncoding =
            comma == std::string_view::npos ? std::string_view() : acceptEncoding.substr(comma + 1);
        const std::size_t semi = item.find(';');
        const std::string_view coding = trim(item.substr(0, semi));
        if (!iequals(coding, "gzip") && !iequals(coding, "x-gzip"))
            continue;
        if (semi == std::string_view::npos)
            return true;
        const std::string_view param = trim(item.substr(semi + 1));
        if (param.size() < 2 || std::tolower(static_cast<unsigned char>(param[0])) != 'q' ||
            param[1] != '=')
            return true;
        // q=0, q=0.0, q=0.000 refuse; anything else accepts.
        for (const char c : trim(param.substr(2)))
            if (c != '0' && c != '.')
                return true;
        return false;
    }
    return false;
}

namespace {
// One stream with its buffers per thread, reset for each piece. ISA-L's
// deflate at level 1 is several times faster than zlib's fastest level and
// shrinks these answers nearly as much; what it writes is plain deflate.
struct Deflater {
    isal_zstream z{};
    std::unique_ptr<std::uint8_t[]> levelBuffer{new std::uint8_t[ISAL_DEF_LVL1_DEFAULT]};
    std::unique_ptr<char[]> out;
    std::size_t capacity = 0;
};
} // namespace

Piece deflatePiece(std::string_view text) {
    thread_local Deflater d;
    Piece p;
    p.size = text.size();
    p.crc = quint32(::crc32_z(0L, reinterpret_cast<const Bytef *>(text.data()), text.size()));
    // Room for stored blocks and their headers, should nothing compress.
    const std::size_t bound = text.size() + text.size() / 16 + 1024;
    if (d.capacity < bound) {
        d.out.reset(new char[bound]);
        d.capacity = bound;
    }
    ::isal_deflate_init(&d.z);
    d.z.level = 1;
    d.z.level_buf = d.levelBuffer.get();
    d.z.level_buf_size = ISAL_DEF_LVL1_DEFAULT;
    d.z.gzip_flag = IGZIP_DEFLATE;
    // A full flush ends on a byte boundary with no final block, and lets what
    // follows refer to nothing before it.
    d.z.flush = FULL_FLUSH;
    d.z.end_of_stream = 0;
    d.z.next_in = reinterpret_cast<std::uint8_t *>(const_cast<char *>(text.data()));
    d.z.avail_in = std::uint32_t(text.size());
    d.z.next_out = reinterpret_cast<std::uint8_t *>(d.out.get());
    d.z.avail_out = std::uint32_t(d.capacity);
    if (::isal_deflate(&d.z) != COMP_OK || d.z.avail_in != 0 ||
        d.z.internal_state.state != ZSTATE_NEW_HDR)
        throw std::runtime_error("could not compress an answer");
    p.deflated = std::make_shared<const std::string>(d.out.get(), d.capacity - d.z.avail_out);
    return p;
}

std::string inflatePiece(const Piece &piece) {
    std::string out(piece.size, '\0');
    z_stream z{};
    if (::inflateInit2(&z, -MAX_WBITS) != Z_OK)
        throw std::runtime_error("zlib could not start a stream");
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(piece.deflated->data()));
    z.avail_in = uInt(piece.deflated->size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    const int rc = ::inflate(&z, Z_SYNC_FLUSH);
    const bool whole = (rc == Z_OK || rc == Z_BUF_ERROR) && z.avail_in == 0 && z.avail_out == 0;
    ::inflateEnd(&z);
    if (!whole)
        throw std::runtime_error("a compressed answer does not inflate to its text");
    return out;
}

const std::string &gzipHeader() {
    // Magic, deflate, no flags, no time, no extra flags, unknown OS.
    static const std::string header("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\xff", 10);
    return header;
}

std::string gzipTrailer(const std::vector<const Piece *> &pieces) {
    uLong crc = ::crc32(0L, nullptr, 0);
    std::size_t size = 0;
    for (const Piece *p : pieces) {
        crc = ::crc32_combine(crc, p->crc, z_off_t(p->size));
        size += p->size;
    }
    std::string out("\x03\x00", 2); // an empty final block
    for (int i = 0; i < 4; ++i)
        out.push_back(char((crc >> (8 * i)) & 0xff));
    for (int i = 0; i < 4; ++i)
        out.push_back(char((size >> (8 * i)) & 0xff));
    return out;
}

} // namespace quorvel::server::compression
