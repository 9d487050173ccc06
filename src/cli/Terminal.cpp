#include "cli/Terminal.h"

#include <csignal>
#include <cstring>
#include <string>

#include <termios.h>
#include <unistd.h>

namespace quorvel::cli {

bool isTerminal(FILE *stream) {
    return ::isatty(::fileno(stream)) == 1;
}

void writeTo(FILE *stream, const QByteArray &bytes) {
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

void writeTo(FILE *stream, const QString &text) {
    writeTo(stream, text.toUtf8());
}

namespace {

std::optional<std::string> readRawLine() {
    std::string line;
    int c = 0;
    bool any = false;
    while ((c = std::fgetc(stdin)) != EOF) {
        any = true;
        if (c == '\n')
            break;
        line.push_back(char(c));
    }
    if (!any)
        return std::nullopt;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

// Echo comes back even when the user interrupts the prompt.
termios g_savedTerminal;
void restoreEchoAndReraise(int signal) {
    ::tcsetattr(STDIN_FILENO, TCSANOW, &g_savedTerminal);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

} // namespace

std::optional<QString> readLineFromStandardInput() {
    const auto line = readRawLine();
    if (!line)
        return std::nullopt;
    return QString::fromUtf8(line->data(), qsizetype(line->size()));
}

std::optional<QString> readPasswordFromTerminal(const QString &prompt) {
    termios saved{};
    const bool canHide = ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (canHide) {
        g_savedTerminal = saved;
        termios hidden = saved;
        hidden.c_lflag &= ~tcflag_t(ECHO);
        hidden.c_lflag |= ECHONL;
        std::signal(SIGINT, restoreEchoAndReraise);
        std::signal(SIGTERM, restoreEchoAndReraise);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &hidden);
    }
    // Echo is off before the prompt shows, so nothing typed after it can appear.
    writeTo(stderr, prompt);
    const auto line = readRawLine();
    if (canHide) {
        ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGTERM, SIG_DFL);
    }
    if (!line)
        return std::nullopt;
    return QString::fromUtf8(line->data(), qsizetype(line->size()));
}

ProgressDisplay::ProgressDisplay(bool enabled, QObject *parent)
    : QObject(parent)
    , m_enabled(enabled) {
    m_spinTimer.setInterval(100);
    connect(&m_spinTimer, &QTimer::timeout, this, [this] {
        ++m_frame;
        setSpinnerLabel(m_spinLabel);
    });
}

ProgressDisplay::~ProgressDisplay() {
    clear();
}

QString ProgressDisplay::bar(double fraction, int width) {
    const double f = qBound(0.0, fraction, 1.0);
    const int filled = int(f * width + 0.5);
    return u'[' + QString(filled, u'#') + QString(width - filled, u'-') + u']' +
           QStringLiteral(" %1%").arg(int(f * 100 + 0.5), 3);
}

void ProgressDisplay::draw(const QString &text) {
    if (!m_enabled)
        return;
    // Carriage return and erase-line: the display rewrites one line in place.
    writeTo(stderr, QStringLiteral("\r\x1b[K") + text);
    m_drawn = true;
}

void ProgressDisplay::showProgress(double fraction, const QString &label) {
    draw(bar(fraction) + u' ' + label);
}

void ProgressDisplay::startSpinner(const QString &label) {
    if (!m_enabled)
        return;
    m_spinLabel = label;
    setSpinnerLabel(label);
    m_spinTimer.start();
}

void ProgressDisplay::setSpinnerLabel(const QString &label) {
    static const QString frames = QStringLiteral("|/-\\");
    m_spinLabel = label;
    draw(QString(frames[m_frame % frames.size()]) + u' ' + label);
}

void ProgressDisplay::clear() {
    m_spinTimer.stop();
    if (m_enabled && m_drawn)
        writeTo(stderr, QStringLiteral("\r\x1b[K"));
    m_drawn = false;
}

} // namespace quorvel::cli
