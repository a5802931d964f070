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
    if (m_advancePending.exchange(true))
        return;
    platform::postToMainThread([this, alive = m_alive] {
        if (!*alive)
            return;
        m_advancePending = false;
        m_view.advanceLinkIndicator();
    });
}

} // namespace app
