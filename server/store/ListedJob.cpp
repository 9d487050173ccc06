#include "ListedJob.h"

#include <QByteArray>
#include <QString>

#include <algorithm>

namespace quorvel::server {

void appendJsonString(std::string &out, std::string_view s) {
    // Text in the database is UTF-8 unless another program wrote it; it reads
    // as Qt reads it, bad sequences replaced.
    QByteArray checked;
    if (std::any_of(s.begin(), s.end(),
                    [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) {
        checked = QString::fromUtf8(s.data(), qsizetype(s.size())).toUtf8();
        s = std::string_view(checked.constData(), std::size_t(checked.size()));
    }
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    std::size_t run = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c >= 0x20 && c != '"' && c != '\\')
            continue;
        out.append(s.data() + run, i - run);
        run = i + 1;
        out += '\\';
        switch (c) {
        case '"':
            out += '"';
            break;
        case '\\':
            out += '\\';
            break;
        case '\b':
            out += 'b';
            break;
        case '\f':
            out += 'f';
            break;
        case '\n':
            out += 'n';
            break;
        case '\r':
            out += 'r';
            break;
        case '\t':
            out += 't';
            break;
        default:
            out += "u00";
            out += kHex[c >> 4];
            out += kHex[c & 0xf];
        }
    }
    out.append(s.data() + run, s.size() - run);
    out += '"';
}

} // namespace quorvel::server
