#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace quorvel::server {

// Takes "multipart/form-data; boundary=…" and returns the boundary, or "" when absent.
std::string multipartBoundary(std::string_view contentType);

// Decodes the escapes browsers (and our client) apply inside a quoted
// filename parameter: %22 for ", %0D and %0A for CR and LF; other % stays.
std::string decodeFilenameParameter(std::string_view raw);

// Incremental multipart/form-data reader: bytes go in as they arrive, file
// bytes come out through the callbacks without the body ever being held whole.
class MultipartReader {
public:
    struct Part {
        std::string name;
        std::string fileName;
        bool hasFileName = false;
        std::string contentType;
    };
    struct Callbacks {
        // Return false to abort (e.g. the part is not wanted or storage failed).
        std::function<bool(const Part &)> begin;
        std::function<bool(const char *, std::size_t)> data;
        std::function<bool()> end;
    };

    MultipartReader(std::string boundary, Callbacks callbacks);

    // Feeds the next bytes; false once the body is malformed or a callback refused.
    bool feed(const char *data, std::size_t size);
    // True when the closing delimiter was seen (call after the last feed).
    bool complete() const { return m_state == State::Done; }
    const std::string &error() const { return m_error; }

private:
    enum class State { Preamble, AfterDelimiter, Headers, Body, Done, Failed };
    bool fail(std::string why);
    bool parseHeaders(std::string_view block);
    bool step();

    std::string m_delimiter; // CR LF "--" boundary
    Callbacks m_cb;
    State m_state = State::Preamble;
    std::string m_buf;
    Part m_part;
    std::string m_error;
    std::size_t m_preambleBytes = 0;
};

} // namespace quorvel::server
