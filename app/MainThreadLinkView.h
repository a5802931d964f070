// app/MainThreadLinkView.h: the status view's link operations as the client thread reaches them.
#pragma once

#include <atomic>
#include <memory>

#include "link/LinkView.h"

namespace app {

// Runs each operation on the main thread. The event list and the server label wait until they
// have run. The indicator only moves a picture: it is posted without waiting, and further
// advances while one is still pending are folded into it, so no exchange on the link waits for
// the main thread.
class MainThreadLinkView final : public msglink::LinkView
{
public:
    // view is used on the main thread only and must outlive every call.
    explicit MainThreadLinkView(msglink::LinkView& view) : m_view(view) {}
    ~MainThreadLinkView() override { *m_alive = false; }

    void appendLinkEvent(const std::string& text) override;
    void showServerAddress(const std::string& address) override;
    void advanceLinkIndicator() override;

private:
    msglink::LinkView& m_view;
    std::atomic<bool> m_advancePending{false};
    // Main thread. Cleared when this view goes, so an advance still posted does nothing.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace app
