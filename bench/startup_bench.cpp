// Start to first frame and peak RSS of quorvel next to a minimal Qt Quick Controls window (one
// label, one button, same style), both started as new processes in the same run, offscreen:
//   startup_bench <quorvel> <bare_controls_window> [runs] [more yardsticks...]
// The clock runs from launch until the program reports its first frame. Prints medians; exits 1
// when quorvel takes more than 1.3x the yardstick in either. Further yardsticks (bare_quick_window,
// bare_qml_window, bare_text_window) are measured in the same rounds and printed beside it, to
// show which part of the cost the QML engine and Qt Quick Controls bring on their own.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

struct Sample {
    double wallMs = -1; // launch to the first frame, seen from outside
    double rssMib = -1;
};

// Offscreen, probing, with no stored sign-in.
QProcessEnvironment probeEnvironment(const QString &configHome) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QUORVEL_STARTUP_PROBE"), QStringLiteral("1"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    return env;
}

Sample startOnce(const QString &program, const QString &configHome) {
    QProcess p;
    p.setProcessEnvironment(probeEnvironment(configHome));
    p.setReadChannel(QProcess::StandardError);
    const QRegularExpression report(QStringLiteral(R"(first-frame-ms=(\d+) peak-rss-kib=(\d+))"));
    QElapsedTimer clock;
    clock.start();
    p.start(program, {});
    // The clock stops when the report arrives: what the program does on its way out is not
    // part of its start.
    QByteArray err;
    Sample s;
    while (clock.elapsed() < 60000 && p.waitForReadyRead(int(60000 - clock.elapsed()))) {
        err += p.readAllStandardError();
        const auto m = report.match(QString::fromUtf8(err));
        if (m.hasMatch()) {
            s = {double(clock.nsecsElapsed()) / 1e6, m.captured(2).toDouble() / 1024.0};
            break;
        }
    }
    if (!p.waitForFinished(60000))
        p.kill();
    return s;
}

// Fonts the first frame looks up that start-up did not ready beforehand: each is a font's
// set-up (fontconfig matching, the engine) on the first frame's path.
int lateFontLookups(const QString &program, const QString &configHome) {
    QProcess p;
    QProcessEnvironment env = probeEnvironment(configHome);
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("qt.text.font.match.debug=true"));
    p.setProcessEnvironment(env);
    p.start(program, {});
    if (!p.waitForFinished(60000))
        return -1;
    const QString err = QString::fromUtf8(p.readAllStandardError());
    const qsizetype ready = err.indexOf(QLatin1String("fonts-ready"));
    if (ready < 0)
        return -1;
    // A family the font list names directly is matched once; one it resolves through an alias
    // ("Sans Serif") twice. Both count: either is set-up work the frame waits for.
    return int(err.mid(ready).count(QLatin1String("QFontDatabasePrivate::match")));
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: startup_bench <quorvel> <bare_controls_window> [runs] "
                             "[more yardsticks...]\n");
        return 2;
    }
    const QString quorvel = QString::fromLocal8Bit(argv[1]);
    const QString bare = QString::fromLocal8Bit(argv[2]);
    const int runs = argc > 3 ? std::max(1, atoi(argv[3])) : 9;
    QStringList others;
    for (int i = 4; i < argc; ++i)
        others << QString::fromLocal8Bit(argv[i]);
    QTemporaryDir config; // no stored token: the window starts signed out, nothing is fetched

    // One start of each first, so all measure with warm file caches.
    startOnce(quorvel, config.path());
    startOnce(bare, config.path());
    for (const QString &other : others)
        startOnce(other, config.path());
    std::vector<double> appWall, appRss, bareWall, bareRss;
    std::vector<std::vector<double>> otherWall(others.size()), otherRss(others.size());
    for (int i = 0; i < runs; ++i) {
        // Alternate, so load on the machine weighs on all alike.
        const Sample a = startOnce(quorvel, config.path());
        const Sample b = startOnce(bare, config.path());
        if (a.wallMs < 0 || b.wallMs < 0) {
            std::fprintf(stderr, "startup_bench: a start did not report its first frame\n");
            return 1;
        }
        appWall.push_back(a.wallMs);
        appRss.push_back(a.rssMib);
        bareWall.push_back(b.wallMs);
        bareRss.push_back(b.rssMib);
        for (qsizetype k = 0; k < others.size(); ++k) {
            const Sample o = startOnce(others[k], config.path());
            if (o.wallMs < 0) {
                std::fprintf(stderr, "startup_bench: %s did not report its first frame\n",
                             qPrintable(others[k]));
                return 1;
            }
            otherWall[k].push_back(o.wallMs);
            otherRss[k].push_back(o.rssMib);
        }
    }
    const double aw = median(appWall), ar = median(appRss), bw = median(bareWall),
                 br = median(bareRss);
    std::printf("start to first frame, median of %d (offscreen)\n", runs);
    std::printf("  %-20s %8.1f ms  peak RSS %6.1f MiB\n", "quorvel", aw, ar);
    std::printf("  %-20s %8.1f ms  peak RSS %6.1f MiB\n",
                qPrintable(bare.section(QLatin1Char('/'), -1)), bw, br);
    std::printf("  ratio                %8.2fx            %6.2fx   (target <= 1.30x both)\n",
                aw / bw, ar / br);
    std::printf("  font look-ups after the start-up readied its fonts: %d\n",
                lateFontLookups(quorvel, config.path()));
    for (qsizetype k = 0; k < others.size(); ++k) {
        const double ow = median(otherWall[k]), orss = median(otherRss[k]);
        const QString name = others[k].section(QLatin1Char('/'), -1);
        std::printf("  %-20s %8.1f ms  peak RSS %6.1f MiB  (%.2fx, %.2fx the yardstick; "
                    "quorvel is %.2fx, %.2fx this)\n",
                    qPrintable(name), ow, orss, ow / bw, orss / br, aw / ow, ar / orss);
    }
    return aw <= 1.3 * bw && ar <= 1.3 * br ? 0 : 1;
}
