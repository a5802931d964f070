// app/MainThreadLinkView.h: the status view's link operations as the client thread reaches them.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "link/LinkView.h"
#include "platform/TickClock.h"

namespace app {

// Runs each operation on the main thread. The event list and the server label wait until they
// have run. The indicator only moves a picture: it is posted without waiting, at most once per
// kIndicatorStepMs, and further advances are folded into it, so no exchange on the link waits
// for the main thread and a busy link does not wake it at every message.
class MainThreadLinkView final : public msglink::LinkView
{
public:
    static constexpr double kIndicatorStepMs = 20;

    // view is used on the main thread only and must outlive every call; so must clock.
    MainThreadLinkView(msglink::LinkView& view, const platform::TickClock& clock)
        : m_view(view), m_clock(clock)
    {
    }
    ~MainThreadLinkView() override { *m_alive = false; }

    void appendLinkEvent(const std::string& text) override;
    void showServerAddress(const std::string& address) override;
    void advanceLinkIndicator() override;

private:
    msglink::LinkView& m_view;
    const platform::TickClock& m_clock;
    std::atomic<bool> m_advancePending{false};
    std::atomic<std::uint64_t> m_advancePosted{0}; // when, by m_clock; 0: never
    // Main thread. Cleared when this view goes, so an advance still posted does nothing.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace app
