#include "history/HistoryParser.h"

#include <cstring>

namespace quorvel {

// Strict UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF), the same
// judgement as Qt's decoder, with a fast path for the ASCII that makes up nearly all of
// a history answer.
bool isStrictUtf8(const QByteArray &bytes) {
    const auto *s = reinterpret_cast<const uchar *>(bytes.constData());
    const uchar *const end = s + bytes.size();
    while (s < end) {
        while (end - s >= 8) {
            quint64 word;
            std::memcpy(&word, s, 8);
            if (word & 0x8080808080808080ULL)
                break;
            s += 8;
        }
        if (s == end)
            break;
        const uchar c = *s;
        if (c < 0x80) {
            ++s;
            continue;
        }
        const auto continuation = [](uchar b) { return (b & 0xC0) == 0x80; };
        if (c < 0xC2)
            return false; // stray continuation byte or overlong two-byte form
        if (c < 0xE0) {
            if (end - s < 2 || !continuation(s[1]))
                return false;
            s += 2;
        } else if (c < 0xF0) {
            if (end - s < 3 || !continuation(s[1]) || !continuation(s[2]))
                return false;
            if ((c == 0xE0 && s[1] < 0xA0) || (c == 0xED && s[1] >= 0xA0))
                return false; // overlong, or a surrogate
            s += 3;
        } else if (c < 0xF5) {
            if (end - s < 4 || !continuation(s[1]) || !continuation(s[2]) || !continuation(s[3]))
                return false;
            if ((c == 0xF0 && s[1] < 0x90) || (c == 0xF4 && s[1] >= 0x90))
                return false; // overlong, or beyond U+10FFFF
            s += 4;
        } else {
            return false;
        }
    }
    return true;
}

} // namespace quorvel
