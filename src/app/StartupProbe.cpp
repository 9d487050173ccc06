#include "StartupProbe.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QQuickWindow>

#include <cstdio>

namespace quorvel::StartupProbe {

namespace {
QElapsedTimer &clock() {
    static QElapsedTimer timer;
    return timer;
}

qint64 peakRssKib() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}
} // namespace

void markProcessStart() {
    clock().start();
}

void fontsReady() {
    if (qEnvironmentVariable("QUORVEL_STARTUP_PROBE") != QLatin1String("1"))
        return;
    std::fputs("fonts-ready\n", stderr);
    std::fflush(stderr);
}

void watch(QQuickWindow *window) {
    if (qEnvironmentVariable("QUORVEL_STARTUP_PROBE") != QLatin1String("1"))
        return;
    QObject::connect(
        window, &QQuickWindow::frameSwapped, window,
        [] {
            static bool reported = false;
            if (reported)
                return;
            reported = true;
            std::fprintf(stderr, "first-frame-ms=%lld peak-rss-kib=%lld\n",
                         static_cast<long long>(clock().elapsed()),
                         static_cast<long long>(peakRssKib()));
            std::fflush(stderr);
            QCoreApplication::exit(0);
        },
        Qt::QueuedConnection);
}

} // namespace quorvel::StartupProbe
