#pragma once

#include <QThreadPool>

namespace quorvel {

// Work the window waits for but must not feel (receiving, reading, comparing and freeing large
// lists): its threads give way to the GUI thread whenever both want a core, so on a machine
// with few cores the window still turns its event loop on time.
QThreadPool &backgroundPool();

// Lowers the calling thread's scheduling priority below the GUI thread's, once per thread.
void giveWayToTheWindow();

} // namespace quorvel
