// tests/fakes/FakeLinkView.h: records the link operations a client hands to the view.
#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/LinkView.h"

namespace fakes {

class FakeLinkView final : public msglink::LinkView
{
public:
    void appendLinkEvent(const std::string& text) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.push_back(text);
    }
    void showServerAddress(const std::string& address) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_addresses.push_back(address);
    }
    void advanceLinkIndicator() override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_advances;
    }

    void clear()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.clear();
        m_addresses.clear();
        m_advances = 0;
    }

    int advances() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_advances;
    }

    std::vector<std::string> events() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }
    std::vector<std::string> addresses() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_addresses;
    }
    int count(const std::string& event) const
    {
        int n = 0;
        for (auto& e : events())
            n += e == event;
        return n;
    }
    // Waits until the event has been reported n times, at most waitMs.
    bool waitCount(const std::string& event, int n, int waitMs = 3000) const
    {
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        while (count(event) < n) {
            if (std::chrono::steady_clock::now() > until)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_events;
    std::vector<std::string> m_addresses;
    int m_advances = 0;
};

} // namespace fakes
