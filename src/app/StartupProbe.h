#pragma once

class QQuickWindow;

namespace quorvel::StartupProbe {

// With QUORVEL_STARTUP_PROBE=1 in the environment, the first frame of `window` prints
// "first-frame-ms=<ms since process start> peak-rss-kib=<peak resident set>" to standard
// error and quits, so a benchmark can time a cold start from outside.
void markProcessStart();
void watch(QQuickWindow *window);

} // namespace quorvel::StartupProbe
