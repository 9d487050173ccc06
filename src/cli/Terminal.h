#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdio>
#include <optional>

namespace quorvel::cli {

bool isTerminal(FILE *stream);

// Writes text as UTF-8 and flushes, so output and errors interleave as they happen.
void writeTo(FILE *stream, const QString &text);
void writeTo(FILE *stream, const QByteArray &bytes);

// The password typed at the terminal, without echo (the prompt goes to standard error).
// Nothing when standard input closed before a line was read.
std::optional<QString> readPasswordFromTerminal(const QString &prompt);
// The first line of standard input, without its line ending; nothing at end of input.
std::optional<QString> readLineFromStandardInput();

// Upload progress as a bar and a spinner while waiting, on standard error, only when it
// is a terminal; otherwise every call does nothing.
class ProgressDisplay : public QObject {
public:
    explicit ProgressDisplay(bool enabled, QObject *parent = nullptr);
    ~ProgressDisplay() override;

    bool enabled() const { return m_enabled; }
    void showProgress(double fraction, const QString &label);
    void startSpinner(const QString &label);
    void setSpinnerLabel(const QString &label);
    // Erases the line, so results and errors start clean.
    void clear();

    // The bar for a fraction (clamped to 0..1), e.g. "[#####-----]  50%".
    static QString bar(double fraction, int width = 30);

private:
    void draw(const QString &text);

    bool m_enabled = false;
    bool m_drawn = false;
    QTimer m_spinTimer;
    QString m_spinLabel;
    int m_frame = 0;
};

} // namespace quorvel::cli
