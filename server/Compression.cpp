#include "Compression.h"

#include <zlib.h>

#include <cctype>
#include <stdexcept>

namespace quorvel::server::compression {

namespace {
// Fast enough for a 35 MB history in a few tenths of a second on one core;
// JSON this repetitive still shrinks tenfold.
constexpr int kLevel = 1;

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}
} // namespace

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
// One stream and output buffer per thread, reset for each piece: a fresh
// stream allocates and clears a quarter of a megabyte.
struct Deflater {
    z_stream z{};
    std::unique_ptr<char[]> out;
    std::size_t capacity = 0;
    Deflater() {
        if (::deflateInit2(&z, kLevel, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            throw std::runtime_error("zlib could not start a stream");
    }
    ~Deflater() { ::deflateEnd(&z); }
    Deflater(const Deflater &) = delete;
    Deflater &operator=(const Deflater &) = delete;
};
} // namespace

Piece deflatePiece(std::string_view text) {
    thread_local Deflater d;
    Piece p;
    p.size = text.size();
    p.crc = quint32(::crc32_z(0L, reinterpret_cast<const Bytef *>(text.data()), text.size()));
    ::deflateReset(&d.z);
    const std::size_t bound = ::deflateBound(&d.z, uLong(text.size())) + 16;
    if (d.capacity < bound) {
        d.out.reset(new char[bound]);
        d.capacity = bound;
    }
    d.z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(text.data()));
    d.z.avail_in = uInt(text.size());
    d.z.next_out = reinterpret_cast<Bytef *>(d.out.get());
    d.z.avail_out = uInt(d.capacity);
    // A full flush ends on a byte boundary and lets what follows refer to
    // nothing before it.
    const int rc = ::deflate(&d.z, Z_FULL_FLUSH);
    if (rc != Z_OK || d.z.avail_in != 0)
        throw std::runtime_error("zlib could not compress an answer");
    p.deflated = std::make_shared<const std::string>(d.out.get(), d.capacity - d.z.avail_out);
    return p;
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
