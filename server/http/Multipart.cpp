#include "Multipart.h"

#include "HttpText.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace quorvel::server {

namespace {

constexpr std::size_t kMaxHeaderBlock = 16 * 1024;

std::string lower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return out;
}

// Finds `key=` (case-insensitive) among the ;-separated parameters of a header value.
bool headerParameter(std::string_view value, std::string_view key, std::string &out) {
    std::size_t pos = 0;
    while (pos < value.size()) {
        // Skip to the next parameter start.
        std::size_t semi = value.find(';', pos);
        if (semi == std::string_view::npos)
            return false;
        pos = semi + 1;
        while (pos < value.size() && (value[pos] == ' ' || value[pos] == '\t'))
            ++pos;
        std::size_t eq = value.find('=', pos);
        if (eq == std::string_view::npos)
            return false;
        std::string name = lower(trim(value.substr(pos, eq - pos)));
        std::size_t vstart = eq + 1;
        std::string v;
        std::size_t vend;
        if (vstart < value.size() && value[vstart] == '"') {
            // The closing quote is one followed by the next parameter or the end,
            // so a stray quote inside a file name does not cut it short.
            vend = vstart + 1;
            std::size_t close = std::string_view::npos;
            for (std::size_t i = vstart + 1; i < value.size(); ++i) {
                if (value[i] != '"')
                    continue;
                std::size_t j = i + 1;
                while (j < value.size() && (value[j] == ' ' || value[j] == '\t'))
                    ++j;
                if (j == value.size() || value[j] == ';') {
                    close = i;
                    break;
                }
            }
            if (close == std::string_view::npos)
                close = value.size();
            v = std::string(value.substr(vstart + 1, close - vstart - 1));
            vend = close + 1;
        } else {
            vend = value.find(';', vstart);
            if (vend == std::string_view::npos)
                vend = value.size();
            v = std::string(trim(value.substr(vstart, vend - vstart)));
        }
        if (name == key) {
            out = v;
            return true;
        }
        pos = std::min(vend, value.size());
    }
    return false;
}

} // namespace

std::string multipartBoundary(std::string_view contentType) {
    const std::string lowerType = lower(contentType.substr(0, contentType.find(';')));
    if (trim(lowerType) != "multipart/form-data")
        return {};
    std::string b;
    if (!headerParameter(contentType, "boundary", b))
        return {};
    if (b.empty() || b.size() > 200)
        return {};
    return b;
}

std::string decodeFilenameParameter(std::string_view raw) {
    std::string out;
    out.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '%' && i + 2 < raw.size()) {
            std::string code = lower(raw.substr(i + 1, 2));
            if (code == "22") {
                out += '"';
                i += 2;
                continue;
            }
            if (code == "0d") {
                out += '\r';
                i += 2;
                continue;
            }
            if (code == "0a") {
                out += '\n';
                i += 2;
                continue;
            }
        }
        out += raw[i];
    }
    return out;
}

MultipartReader::MultipartReader(std::string boundary, Callbacks callbacks)
    : m_delimiter("\r\n--" + boundary)
    , m_cb(std::move(callbacks)) {
    // A delimiter at the very start of the body has no CR LF before it;
    // pretend it had one so every delimiter looks the same.
    m_buf = "\r\n";
}

bool MultipartReader::fail(std::string why) {
    m_state = State::Failed;
    m_error = std::move(why);
    return false;
}

bool MultipartReader::feed(const char *data, std::size_t size) {
    if (m_state == State::Failed)
        return false;
    if (m_state == State::Done)
        return true; // the epilogue is ignored
    m_buf.append(data, size);
    while (true) {
        const State before = m_state;
        const std::size_t sizeBefore = m_buf.size();
        if (!step())
            return false;
        if (m_state == State::Done)
            return true;
        if (m_state == before && m_buf.size() == sizeBefore)
            return true; // needs more bytes
    }
}

bool MultipartReader::step() {
    switch (m_state) {
    case State::Preamble: {
        const std::size_t at = m_buf.find(m_delimiter);
        if (at == std::string::npos) {
            // Keep only what could still be the start of a delimiter.
            if (m_buf.size() > m_delimiter.size()) {
                m_preambleBytes += m_buf.size() - m_delimiter.size();
                m_buf.erase(0, m_buf.size() - m_delimiter.size());
            }
            if (m_preambleBytes > kMaxHeaderBlock)
                return fail("no multipart boundary found");
            return true;
        }
        m_buf.erase(0, at + m_delimiter.size());
        m_state = State::AfterDelimiter;
        return true;
    }
    case State::AfterDelimiter: {
        if (m_buf.size() < 2)
            return true;
        if (m_buf.compare(0, 2, "--") == 0) {
            m_state = State::Done;
            m_buf.clear();
            return true;
        }
        // Transport padding (spaces/tabs) may follow the delimiter before CR LF.
        const std::size_t eol = m_buf.find("\r\n");
        if (eol == std::string::npos) {
            if (m_buf.size() > 256)
                return fail("malformed multipart delimiter line");
            return true;
        }
        if (!trim(std::string_view(m_buf).substr(0, eol)).empty())
            return fail("malformed multipart delimiter line");
        m_buf.erase(0, eol + 2);
        m_state = State::Headers;
        return true;
    }
    case State::Headers: {
        std::size_t end = m_buf.find("\r\n\r\n");
        std::size_t skip = 4;
        if (m_buf.compare(0, 2, "\r\n") == 0) {
            end = 0; // a part without headers
            skip = 2;
        }
        if (end == std::string::npos) {
            if (m_buf.size() > kMaxHeaderBlock)
                return fail("multipart part headers too long");
            return true;
        }
        if (!parseHeaders(std::string_view(m_buf).substr(0, end)))
            return false;
        m_buf.erase(0, end + skip);
        if (m_cb.begin && !m_cb.begin(m_part))
            return fail("upload refused");
        m_state = State::Body;
        return true;
    }
    case State::Body: {
        const std::size_t at = m_buf.find(m_delimiter);
        if (at == std::string::npos) {
            // Everything but a possible partial delimiter at the tail is data.
            if (m_buf.size() >= m_delimiter.size()) {
                const std::size_t n = m_buf.size() - (m_delimiter.size() - 1);
                if (m_cb.data && !m_cb.data(m_buf.data(), n))
                    return fail("upload refused");
                m_buf.erase(0, n);
            }
            return true;
        }
        if (at > 0 && m_cb.data && !m_cb.data(m_buf.data(), at))
            return fail("upload refused");
        m_buf.erase(0, at + m_delimiter.size());
        if (m_cb.end && !m_cb.end())
            return fail("upload refused");
        m_state = State::AfterDelimiter;
        return true;
    }
    case State::Done:
    case State::Failed:
        return m_state == State::Done;
    }
    return false;
}

bool MultipartReader::parseHeaders(std::string_view block) {
    m_part = Part{};
    bool disposition = false;
    std::size_t pos = 0;
    while (pos < block.size()) {
        std::size_t eol = block.find("\r\n", pos);
        if (eol == std::string_view::npos)
            eol = block.size();
        std::string_view line = block.substr(pos, eol - pos);
        pos = eol + 2;
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            return fail("malformed multipart part header");
        const std::string name = lower(trim(line.substr(0, colon)));
        const std::string_view value = trim(line.substr(colon + 1));
        if (name == "content-disposition") {
            if (lower(trim(value.substr(0, value.find(';')))) != "form-data")
                return fail("multipart part is not form-data");
            disposition = true;
            headerParameter(value, "name", m_part.name);
            std::string fn;
            if (headerParameter(value, "filename", fn)) {
                m_part.fileName = decodeFilenameParameter(fn);
                m_part.hasFileName = true;
            }
        } else if (name == "content-type") {
            m_part.contentType = std::string(value);
        }
    }
    if (!disposition)
        return fail("multipart part without Content-Disposition");
    return true;
}

} // namespace quorvel::server
