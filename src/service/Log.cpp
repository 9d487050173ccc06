#include "service/Log.h"

#include <QMutex>
#include <QStringDecoder>

#include <cstdio>

namespace quorvel::Log {
namespace {

void writeTo(FILE *stream, const QString &line) {
    const QByteArray bytes = line.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

// Lines may come from a worker thread (the history parse): one line at a time reaches the sink.
QMutex &sinkLock() {
    static QMutex m;
    return m;
}

Sink &sink() {
    static Sink s = [](const QString &line) { writeTo(stdout, line); };
    return s;
}

} // namespace

void write(const QString &line) {
    const QMutexLocker lock(&sinkLock());
    if (sink())
        sink()(line);
}

void setSink(Sink s) {
    const QMutexLocker lock(&sinkLock());
    sink() = std::move(s);
}
void useStandardOutput() {
    setSink([](const QString &line) { writeTo(stdout, line); });
}
void useStandardError() {
    setSink([](const QString &line) { writeTo(stderr, line); });
}
bool enabled() {
    const QMutexLocker lock(&sinkLock());
    return bool(sink());
}

QString renderMap(const QList<QPair<QString, QString>> &entries) {
    if (entries.isEmpty())
        return QStringLiteral("[:]");
    QString out = QStringLiteral("[");
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (i)
            out += QStringLiteral(", ");
        out += u'"' + entries[i].first + QStringLiteral("\": \"") + entries[i].second + u'"';
    }
    return out + u']';
}

bool isValidUtf8(const QByteArray &bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                     QStringDecoder::Flag::ConvertInitialBom);
    // Decoding into a scratch buffer is the cheapest complete validation Qt offers.
    const QString text = decoder.decode(bytes);
    return !decoder.hasError();
}

QString utf8OrFallback(const QByteArray &bytes, const QString &fallback) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                     QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    return decoder.hasError() ? fallback : text;
}

QString redactToken(const QString &token) {
    if (token.isEmpty())
        return token;
    return token.left(6) + QStringLiteral("…");
}

} // namespace quorvel::Log
