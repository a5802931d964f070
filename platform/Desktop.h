// platform/Desktop.h: desktop glue for the application shell (Qt).
#pragma once

#include <functional>

namespace platform {

// Runs work on the main (event-loop) thread and returns once it has run. On the main thread
// itself it runs at once. The main thread must be running its event loop, or be waiting in
// serveMainThreadFor, for a call from another thread to complete.
void runOnMainThreadAndWait(const std::function<void()>& work);

// Queues work to run on the main thread and returns at once. On the main thread itself it
// runs at once.
void postToMainThread(std::function<void()> work);

// Main thread. Runs the hand-overs and other events that arrive within ms milliseconds.
void serveMainThreadFor(int ms);

// Whether a graphical display is there to show a window on.
bool displayAvailable();

} // namespace platform
