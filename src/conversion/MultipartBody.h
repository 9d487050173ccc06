#pragma once

#include <QByteArray>
#include <QFile>
#include <QIODevice>
#include <QString>

#include <memory>

namespace quorvel {

// A one-part multipart/form-data body read straight from the file on disk: the
// head rows, the file's bytes, the tail row. Random access with a known size, so
// the network stack streams it (and can rewind it) without ever holding the file.
class MultipartBody : public QIODevice {
    Q_OBJECT
public:
    // `file` is open for reading (openRegularFile); `fileName` is written into the filename
    // parameter (escaped); the field is "file".
    MultipartBody(std::unique_ptr<QFile> file, const QString &fileName, const QString &boundary,
                  QObject *parent = nullptr);

    // Takes the file's size as the body's; false with errorString() when it is unknown.
    bool open(OpenMode mode) override;
    void close() override;
    bool isSequential() const override { return false; }
    qint64 size() const override;
    bool seek(qint64 pos) override;
    bool atEnd() const override;

    qint64 fileSize() const { return m_fileSize; }
    const QByteArray &head() const { return m_head; }
    const QByteArray &tail() const { return m_tail; }

    // The filename parameter as browsers write it: '"', CR and LF percent-escaped,
    // so no name can end the quoted value or add header lines.
    static QByteArray escapeFileName(const QString &fileName);
    static QByteArray headFor(const QString &fileName, const QString &boundary);
    static QByteArray tailFor(const QString &boundary);

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    std::unique_ptr<QFile> m_file;
    QByteArray m_head;
    QByteArray m_tail;
    qint64 m_fileSize = 0;
};

} // namespace quorvel
