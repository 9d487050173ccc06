#pragma once

#include <strings.h>

#include <string_view>

// Small text helpers for header fields, shared by the connection reader, the
// multipart parser and the encoding negotiation.
namespace quorvel::server {

// Without the optional white space around a field value (and a stray CR at its end).
inline std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// Header names and tokens compare without regard to ASCII case.
inline bool iequals(std::string_view a, std::string_view b) {
    return a.size() == b.size() && ::strncasecmp(a.data(), b.data(), a.size()) == 0;
}

} // namespace quorvel::server
