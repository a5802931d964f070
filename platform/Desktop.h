// platform/Desktop.h: desktop glue for the application shell (Qt).
#pragma once

#include <functional>

#include "platform/MainThread.h"

namespace platform {

// Qt's event loop as the main-thread loop: hand-overs run as queued events of the application
// object. Construct it on the main thread after the QCoreApplication (or QApplication); it is
// installed (setMainThreadLoop) while it lives.
class QtMainThread final : public MainThreadLoop
{
public:
    QtMainThread();
    ~QtMainThread() override;
    QtMainThread(const QtMainThread&) = delete;
    QtMainThread& operator=(const QtMainThread&) = delete;

    bool isLoopThread() const override;
    void runAndWait(const std::function<void()>& work) override;
    void post(std::function<void()> work) override;
    // Runs the Qt events (hand-overs, timers, painting) that arrive within ms milliseconds.
    void serveFor(int ms) override;

private:
    MainThreadLoop* m_previous = nullptr;
};

// Whether a graphical display is there to show a window on.
bool displayAvailable();

} // namespace platform
