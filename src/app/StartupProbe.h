#pragma once

class QQuickWindow;

namespace quorvel::StartupProbe {

// With QUORVEL_STARTUP_PROBE=1 in the environment, the first frame of `window` prints
// "first-frame-ms=<ms since process start> peak-rss-kib=<peak resident set>" to standard
// error and quits, so a benchmark can time a cold start from outside.
void markProcessStart();
void watch(QQuickWindow *window);
// Prints "fonts-ready" when probing: the fonts readied before the window is made. Any font
// looked up after it is set up on the first frame's path (the benchmark counts them).
void fontsReady();

} // namespace quorvel::StartupProbe
