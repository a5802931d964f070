// app/StatusView.cpp
#include "app/StatusView.h"

#include <algorithm>

namespace app {

StatusView::StatusView(Now now) : m_now(std::move(now)) {}

void StatusView::appendLinkEvent(const std::string& text)
{
    std::tm t = m_now();
    std::string line = platform::shortDate(t) + " " + platform::longTime(t) + " " + text;
    m_events.push_back(line);
    // Repeated connection attempts show as one line, the newest.
    if (text == msglink::kEventConnecting && m_events.size() >= 2) {
        auto previous = m_events.end() - 2;
        if (previous->find(msglink::kEventConnecting) != std::string::npos)
            m_events.erase(previous);
    }
    if (m_events.size() > kMaxEvents)
        m_events.pop_front();
    if (onEventAppended)
        onEventAppended(line);
    if (onLinkChanged)
        onLinkChanged();
}

void StatusView::showServerAddress(const std::string& address)
{
    m_serverAddress = address;
    if (onLinkChanged)
        onLinkChanged();
}

void StatusView::advanceLinkIndicator()
{
    if (++m_activity > kActivitySteps)
        m_activity = 0;
    if (onLinkChanged)
        onLinkChanged();
}

std::size_t StatusView::gridRowCount() const
{
    return std::max<std::size_t>(2, (m_table ? m_table->size() : 0) + 1);
}

} // namespace app
