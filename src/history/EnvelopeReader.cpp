#include "history/EnvelopeReader.h"

#include <QByteArrayView>

namespace quorvel {
namespace {

// Beyond this the general path decides, whatever the reader could do.
constexpr qsizetype kLargestAnswer = qsizetype(1) << 26;

static_assert(kTaskFieldCount <= 32, "the reader marks the fields it saw in 32 bits");
static_assert(kTaskFields[0].required, "a job is read only when its id was seen");

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

class Reader {
public:
    explicit Reader(const QByteArray &bytes)
        : m_p(bytes.constData())
        , m_end(bytes.constData() + bytes.size()) {}

    std::optional<ConversionHistoryResponse> envelope() {
        ConversionHistoryResponse response;
        bool code = false, msg = false, data = false;
        if (!take('{'))
            return std::nullopt;
        do {
            QByteArrayView name;
            if (!key(name))
                return std::nullopt;
            bool ok;
            if (name == QByteArrayView("code"))
                ok = !std::exchange(code, true) && integer(response.code);
            else if (name == QByteArrayView("msg"))
                ok = !std::exchange(msg, true) && at('"') && string(response.msg);
            else if (name == QByteArrayView("data"))
                ok = !std::exchange(data, true) && dataObject(response.data.converts);
            else
                ok = skipScalar();
            if (!ok)
                return std::nullopt;
        } while (take(','));
        if (!take('}') || !code || !msg || !data)
            return std::nullopt;
        skipSpace();
        if (m_p != m_end)
            return std::nullopt;
        return response;
    }

private:
    void skipSpace() {
        while (m_p < m_end && (*m_p == ' ' || *m_p == '\n' || *m_p == '\r' || *m_p == '\t'))
            ++m_p;
    }

    bool at(char c) {
        skipSpace();
        return m_p < m_end && *m_p == c;
    }

    bool take(char c) {
        if (!at(c))
            return false;
        ++m_p;
        return true;
    }

    bool literal(QByteArrayView word) {
        if (m_end - m_p < word.size() || QByteArrayView(m_p, word.size()) != word)
            return false;
        m_p += word.size();
        return true;
    }

    // A member name without escapes, and the colon after it.
    bool key(QByteArrayView &name) {
        if (!take('"'))
            return false;
        const char *start = m_p;
        while (m_p < m_end && *m_p != '"') {
            if (*m_p == '\\' || uchar(*m_p) < 0x20)
                return false;
            ++m_p;
        }
        if (m_p == m_end)
            return false;
        name = QByteArrayView(start, m_p - start);
        ++m_p;
        return take(':');
    }

    // A string at the current position (an opening quote).
    bool string(QString &out) {
        const char *start = ++m_p;
        while (m_p < m_end) {
            const uchar c = uchar(*m_p);
            if (c == '"') {
                out = QString::fromUtf8(start, m_p - start);
                ++m_p;
                return true;
            }
            if (c == '\\')
                return escapedString(QByteArray(start, m_p - start), out);
            if (c < 0x20)
                return false;
            ++m_p;
        }
        return false;
    }

    // The rest of a string that holds escapes, from the first backslash on.
    bool escapedString(QByteArray text, QString &out) {
        while (m_p < m_end) {
            const char c = *m_p++;
            if (c == '"') {
                out = QString::fromUtf8(text);
                return true;
            }
            if (uchar(c) < 0x20)
                return false;
            if (c != '\\') {
                text += c;
                continue;
            }
            if (m_p == m_end)
                return false;
            switch (*m_p++) {
            case '"':
                text += '"';
                break;
            case '\\':
                text += '\\';
                break;
            case '/':
                text += '/';
                break;
            case 'b':
                text += '\b';
                break;
            case 'f':
                text += '\f';
                break;
            case 'n':
                text += '\n';
                break;
            case 'r':
                text += '\r';
                break;
            case 't':
                text += '\t';
                break;
            case 'u': {
                if (m_end - m_p < 4)
                    return false;
                char16_t unit = 0;
                for (int i = 0; i < 4; ++i) {
                    const int digit = hexDigit(m_p[i]);
                    if (digit < 0)
                        return false;
                    unit = char16_t(unit * 16 + digit);
                }
                // Surrogate pairs are left to the general path.
                if (unit >= 0xD800 && unit <= 0xDFFF)
                    return false;
                text += QStringView(&unit, 1).toUtf8();
                m_p += 4;
                break;
            }
            default:
                return false;
            }
        }
        return false;
    }

    // A whole number of at most 18 digits: exact in every JSON reading.
    bool integer(qint64 &out) {
        skipSpace();
        const bool negative = m_p < m_end && *m_p == '-';
        if (negative)
            ++m_p;
        if (m_p == m_end || *m_p < '0' || *m_p > '9')
            return false;
        qint64 value = 0;
        if (*m_p == '0') {
            ++m_p;
        } else {
            int digits = 0;
            while (m_p < m_end && *m_p >= '0' && *m_p <= '9') {
                if (++digits > 18)
                    return false;
                value = value * 10 + (*m_p++ - '0');
            }
        }
        if (m_p < m_end &&
            (*m_p == '.' || *m_p == 'e' || *m_p == 'E' || (*m_p >= '0' && *m_p <= '9')))
            return false;
        out = negative ? -value : value;
        return true;
    }

    // A value of a member no decoder reads: only scalars are expected there.
    bool skipScalar() {
        skipSpace();
        if (m_p == m_end)
            return false;
        switch (*m_p) {
        case '"': {
            QString ignored;
            return string(ignored);
        }
        case 'n':
            return literal("null");
        case 't':
            return literal("true");
        case 'f':
            return literal("false");
        default: {
            qint64 ignored;
            return integer(ignored);
        }
        }
    }

    bool dataObject(QList<ConversionTask> &tasks) {
        bool converts = false;
        if (!take('{'))
            return false;
        do {
            QByteArrayView name;
            if (!key(name))
                return false;
            const bool ok = name == QByteArrayView("converts")
                                ? !std::exchange(converts, true) && jobs(tasks)
                                : skipScalar();
            if (!ok)
                return false;
        } while (take(','));
        return take('}') && converts;
    }

    bool jobs(QList<ConversionTask> &tasks) {
        if (!take('['))
            return false;
        if (take(']'))
            return true;
        do {
            if (!job(tasks.emplace_back()))
                return false;
        } while (take(','));
        return take(']');
    }

    bool text(QString &out, bool required) {
        skipSpace();
        if (m_p < m_end && *m_p == '"')
            return string(out);
        return !required && literal("null");
    }

    bool number(qint64 &out) {
        skipSpace();
        if (m_p < m_end && *m_p == 'n')
            return literal("null");
        return integer(out);
    }

    bool job(ConversionTask &t) {
        if (!take('{'))
            return false;
        quint32 seen = 0;
        do {
            QByteArrayView name;
            if (!key(name))
                return false;
            const qsizetype field = taskFieldOfKey(name);
            if (field >= 0 && (seen & (1u << field)))
                return false; // which of two values counts is the general path's call
            if (field >= 0)
                seen |= 1u << field;
            bool ok = false;
            if (field < 0) {
                ok = skipScalar();
            } else {
                const TaskField &f = kTaskFields[field];
                ok = f.number ? number(t.*f.number) : text(t.*f.text, f.required);
            }
            if (!ok)
                return false;
        } while (take(','));
        return take('}') && (seen & 1u); // the id is the first field
    }

    const char *m_p;
    const char *const m_end;
};

} // namespace

std::optional<ConversionHistoryResponse> readHistoryEnvelope(const QByteArray &bytes) {
    if (bytes.size() > kLargestAnswer)
        return std::nullopt;
    return Reader(bytes).envelope();
}

} // namespace quorvel
