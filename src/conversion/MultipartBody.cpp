#include "conversion/MultipartBody.h"

#include <cstring>

namespace quorvel {

MultipartBody::MultipartBody(std::unique_ptr<QFile> file, const QString &fileName,
                             const QString &boundary, QObject *parent)
    : QIODevice(parent)
    , m_file(std::move(file))
    , m_head(headFor(fileName, boundary))
    , m_tail(tailFor(boundary)) {}

QByteArray MultipartBody::escapeFileName(const QString &fileName) {
    QByteArray out;
    const QByteArray utf8 = fileName.toUtf8();
    out.reserve(utf8.size());
    for (const char c : utf8) {
        switch (c) {
        case '"':
            out += "%22";
            break;
        case '\r':
            out += "%0D";
            break;
        case '\n':
            out += "%0A";
            break;
        default:
            out += c;
        }
    }
    return out;
}

QByteArray MultipartBody::headFor(const QString &fileName, const QString &boundary) {
    return "\r\n--" + boundary.toUtf8() + "\r\n" +
           "Content-Disposition: form-data; name=\"file\"; filename=\"" + escapeFileName(fileName) +
           "\"\r\n" + "Content-Type: application/pdf\r\n\r\n";
}

QByteArray MultipartBody::tailFor(const QString &boundary) {
    return "\r\n--" + boundary.toUtf8() + "--\r\n";
}

bool MultipartBody::open(OpenMode mode) {
    if ((mode & WriteOnly) || !(mode & ReadOnly)) {
        setErrorString(QStringLiteral("The upload body can only be read."));
        return false;
    }
    if (!m_file || !m_file->isReadable()) {
        setErrorString(QStringLiteral("The file is not open for reading."));
        return false;
    }
    // The size is fixed now: a file that changes length later fails the read
    // instead of sending a body that disagrees with its Content-Length.
    m_fileSize = m_file->size();
    return QIODevice::open(QIODevice::ReadOnly | QIODevice::Unbuffered);
}

void MultipartBody::close() {
    if (m_file)
        m_file->close();
    QIODevice::close();
}

qint64 MultipartBody::size() const {
    return m_head.size() + m_fileSize + m_tail.size();
}

bool MultipartBody::seek(qint64 pos) {
    if (pos < 0 || pos > size())
        return false;
    return QIODevice::seek(pos);
}

bool MultipartBody::atEnd() const {
    return pos() >= size();
}

qint64 MultipartBody::readData(char *data, qint64 maxSize) {
    qint64 done = 0;
    qint64 at = pos();
    const qint64 headEnd = m_head.size();
    const qint64 fileEnd = headEnd + m_fileSize;
    const qint64 total = size();
    while (done < maxSize && at < total) {
        const qint64 want = maxSize - done;
        qint64 got = 0;
        if (at < headEnd) {
            got = qMin(want, headEnd - at);
            std::memcpy(data + done, m_head.constData() + at, size_t(got));
        } else if (at < fileEnd) {
            const qint64 offset = at - headEnd;
            if (m_file->pos() != offset && !m_file->seek(offset)) {
                setErrorString(m_file->errorString());
                return -1;
            }
            got = m_file->read(data + done, qMin(want, fileEnd - at));
            if (got <= 0) {
                // The file shrank or became unreadable while it was being sent.
                setErrorString(got < 0 ? m_file->errorString()
                                       : QStringLiteral("The file changed while it was uploaded."));
                return -1;
            }
        } else {
            got = qMin(want, total - at);
            std::memcpy(data + done, m_tail.constData() + (at - fileEnd), size_t(got));
        }
        done += got;
        at += got;
    }
    return done;
}

} // namespace quorvel
