// app/MainThreadLinkView.cpp
#include "app/MainThreadLinkView.h"

#include "platform/MainThread.h"

namespace app {

void MainThreadLinkView::appendLinkEvent(const std::string& text)
{
    platform::runOnMainThreadAndWait([&] { m_view.appendLinkEvent(text); });
}

void MainThreadLinkView::showServerAddress(const std::string& address)
{
    platform::runOnMainThreadAndWait([&] { m_view.showServerAddress(address); });
}

void MainThreadLinkView::advanceLinkIndicator()
{
    const std::uint64_t now = m_clock.read();
    const std::uint64_t posted = m_advancePosted.load();
    if ((posted != 0 && m_clock.msBetween(posted, now) < kIndicatorStepMs) ||
        m_advancePending.exchange(true))
        return;
    m_advancePosted = now;
    platform::postToMainThread([this, alive = m_alive] {
        if (!*alive)
            return;
        m_advancePending = false;
        m_view.advanceLinkIndicator();
    });
}

} // namespace app
