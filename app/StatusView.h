// app/StatusView.h: what the status page shows, kept apart from any drawing. Window's thread
// only; the window or the headless console observe it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>

#include "link/LinkEvents.h"
#include "link/LinkView.h"
#include "platform/Formats.h"
#include "tracker/TrackerTable.h"

namespace app {

enum class PortState
{
    Unknown,
    Listening,
    Closed
}; // green once listening, red otherwise

class StatusView final : public msglink::LinkView
{
public:
    static constexpr std::size_t kMaxEvents = 100;
    static constexpr int kActivitySteps = 16;

    using Now = std::function<std::tm()>;
    explicit StatusView(Now now = &platform::localNow);

    // Set once by start-up.
    void setStartTime(std::string text) { m_startTime = std::move(text); }
    void setPassword(std::string text) { m_password = std::move(text); }
    void setPort(std::uint16_t port) { m_port = port; }
    void setPortState(PortState state) { m_portState = state; }
    void setTable(const tracker::TrackerTable* table) { m_table = table; }

    // The window operations. These run on the window's thread; other threads reach them
    // through the main-thread hand-over.
    void appendLinkEvent(const std::string& text) override;
    void showServerAddress(const std::string& address) override;
    void advanceLinkIndicator() override;

    const std::string& startTime() const { return m_startTime; }
    const std::string& password() const { return m_password; }
    const std::string& serverAddress() const { return m_serverAddress; }
    std::uint16_t port() const { return m_port; }
    PortState portState() const { return m_portState; }
    int activity() const { return m_activity; }
    const std::deque<std::string>& events() const { return m_events; }

    // Grid rows: the header and one per tracker, never fewer than 2.
    std::size_t gridRowCount() const;
    const tracker::TrackerTable* table() const { return m_table; }

    // Told of every line appended (after the merge and cap), and of any change to the link
    // part of the view. Either may be empty.
    std::function<void(const std::string& line)> onEventAppended;
    std::function<void()> onLinkChanged;

private:
    Now m_now;
    std::string m_startTime;
    std::string m_password;
    std::string m_serverAddress = ".";
    std::uint16_t m_port = 0;
    PortState m_portState = PortState::Unknown;
    int m_activity = 0;
    std::deque<std::string> m_events;
    const tracker::TrackerTable* m_table = nullptr;
};

} // namespace app
