#pragma once

#include <QtGlobal>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Answers are compressed by the service itself, once per content, so that
// repeated requests only copy bytes. gzip because every HTTP client decodes it.
namespace quorvel::server::compression {

// Below this an answer fits a packet or two; compressing it saves nothing.
constexpr std::size_t kMinBytes = 1024;

// Whether an Accept-Encoding value admits gzip (a q of 0 refuses it).
bool acceptsGzip(std::string_view acceptEncoding);

// A piece of a gzip stream compressed on its own: raw deflate ending on a
// byte boundary with an empty history, so pieces can be concatenated in any
// order and a changed piece is compressed again alone.
struct Piece {
    std::shared_ptr<const std::string> deflated;
    quint32 crc = 0;
    std::size_t size = 0; // uncompressed bytes
};
Piece deflatePiece(std::string_view text);
// The text of a piece again.
std::string inflatePiece(const Piece &piece);

// One gzip member is this header, pieces, and the trailer for those pieces in that order.
const std::string &gzipHeader();
std::string gzipTrailer(const std::vector<const Piece *> &pieces);

} // namespace quorvel::server::compression
