// tests/app/HousekeepingTest.cpp: the watchdog fed only while both loops move, the status line
// and the once-a-second duties, on an injected clock.
#include "app/Housekeeping.h"

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "app/DayLogRetention.h"
#include "tests/fakes/CalendarTime.h"
#include "tests/fakes/TempDir.h"

using namespace std::chrono_literals;
using Clock = app::Housekeeping::Clock;

namespace {

class RecordingManager final : public app::ServiceManager
{
public:
    void notify(const std::string& state) override { sent.push_back(state); }
    std::optional<std::chrono::microseconds> watchdogInterval() const override { return interval; }

    std::size_t count(const std::string& prefix) const
    {
        std::size_t n = 0;
        for (auto& s : sent)
            n += s.rfind(prefix, 0) == 0;
        return n;
    }

    std::vector<std::string> sent;
    std::optional<std::chrono::microseconds> interval;
};

class HousekeepingTest : public ::testing::Test
{
protected:
    std::unique_ptr<app::Housekeeping> make()
    {
        app::HousekeepingSources s;
        s.figures = [this] { return m_figures; };
        s.dispatcherTicks = [this] { return m_ticks; };
        s.clientTurns = [this] { return m_turns; };
        s.publishMetrics = [this](const app::GatewayFigures& f) { m_published.push_back(f); };
        return std::make_unique<app::Housekeeping>(std::move(s), m_manager);
    }

    RecordingManager m_manager;
    app::GatewayFigures m_figures;
    std::uint64_t m_ticks = 0;
    std::optional<std::uint64_t> m_turns = 0;
    std::vector<app::GatewayFigures> m_published;
    Clock::time_point m_t0 = Clock::now();
};

} // namespace

TEST(WatchdogFeedTest, FedWhileBothCountsMoveAndNotOnceEitherStallsPastTheLimit)
{
    app::WatchdogFeed feed(15s);
    Clock::time_point t = Clock::now();
    EXPECT_TRUE(feed.healthy(t, 0, 0));
    EXPECT_TRUE(feed.healthy(t + 10s, 1000, 2));  // the client waited 10 s for a reply: fine
    EXPECT_TRUE(feed.healthy(t + 24s, 2000, 2));  // still within 15 s of its last move
    EXPECT_FALSE(feed.healthy(t + 26s, 3000, 2)); // the client thread is stuck
    EXPECT_TRUE(feed.healthy(t + 27s, 3100, 3));  // and moves again

    app::WatchdogFeed mainStuck(15s);
    EXPECT_TRUE(mainStuck.healthy(t, 7, 0));
    EXPECT_TRUE(mainStuck.healthy(t + 15s, 7, 50));
    EXPECT_FALSE(mainStuck.healthy(t + 16s, 7, 60)); // the dispatcher has not run for 16 s
}

TEST(WatchdogFeedTest, WithoutAClientOnlyTheDispatcherCounts)
{
    app::WatchdogFeed feed(2s);
    Clock::time_point t = Clock::now();
    EXPECT_TRUE(feed.healthy(t, 1, std::nullopt));
    EXPECT_TRUE(feed.healthy(t + 10s, 2, std::nullopt));
    EXPECT_FALSE(feed.healthy(t + 13s, 2, std::nullopt));
}

TEST(StatusLineTest, SaysLinkTrackersAndBacklog)
{
    app::GatewayFigures f;
    EXPECT_EQ("link down, 0 trackers connected, backlog 0", app::statusLine(f));
    f.link = app::LinkFigure::Authorised;
    f.trackersConnected = 12;
    f.backlogDepth = 340;
    f.backlogOldestAgeSeconds = 61.7;
    EXPECT_EQ("link logged in, 12 trackers connected, backlog 340 (oldest 61 s)",
              app::statusLine(f));
    f.link = app::LinkFigure::Connected;
    EXPECT_EQ(0u, app::statusLine(f).find("link connected, not logged in"));
}

TEST_F(HousekeepingTest, WatchdogIsFedEachTickUntilTheClientLoopStops)
{
    m_manager.interval = 30s;
    auto h = make();
    EXPECT_EQ(1000ms, h->tickInterval());
    for (int s = 0; s <= 15; ++s) {
        ++m_ticks;
        h->tick(m_t0 + std::chrono::seconds(s)); // the client's turns stay put
    }
    EXPECT_EQ(16u, m_manager.count("WATCHDOG=1"));
    ++m_ticks;
    h->tick(m_t0 + 16s);
    EXPECT_EQ(16u, m_manager.count("WATCHDOG=1"));
    m_turns = 1;
    ++m_ticks;
    h->tick(m_t0 + 17s);
    EXPECT_EQ(17u, m_manager.count("WATCHDOG=1"));
}

TEST_F(HousekeepingTest, NoWatchdogWhenTheManagerDoesNotWatch)
{
    auto h = make();
    h->tick(m_t0);
    EXPECT_EQ(0u, m_manager.count("WATCHDOG"));
    EXPECT_EQ(1u, m_manager.count("STATUS="));
}

TEST_F(HousekeepingTest, ShortWatchdogIntervalsAreServedInTime)
{
    m_manager.interval = 2s;
    EXPECT_EQ(500ms, make()->tickInterval());
}

TEST_F(HousekeepingTest, StatusEveryFiveSecondsWhenItChangedAndMetricsEveryTick)
{
    auto h = make();
    h->tick(m_t0);
    m_figures.trackersConnected = 3;
    h->tick(m_t0 + 1s); // changed, but within 5 s of the last
    EXPECT_EQ(std::vector<std::string>{"STATUS=link down, 0 trackers connected, backlog 0"},
              m_manager.sent);
    h->tick(m_t0 + 5s);
    EXPECT_EQ("STATUS=link down, 3 trackers connected, backlog 0", m_manager.sent.back());
    h->tick(m_t0 + 10s); // unchanged: not sent again
    EXPECT_EQ(2u, m_manager.count("STATUS="));
    ASSERT_EQ(4u, m_published.size());
    EXPECT_EQ(3u, m_published.back().trackersConnected);
}

TEST_F(HousekeepingTest, RetentionRunsFromTheTick)
{
    fakes::TempDir dir;
    std::ofstream(dir.file("01.05.2017.log")) << "x";
    std::tm today = fakes::calendarTime(2017, 5, 3);
    platform::DayLog log(dir.path(), [&] { return today; });
    app::DayLogRetention retention(log, 2);
    app::HousekeepingSources s;
    s.figures = [] { return app::GatewayFigures{}; };
    s.dispatcherTicks = [] { return std::uint64_t{0}; };
    s.clientTurns = [] { return std::optional<std::uint64_t>{}; };
    s.retention = &retention;
    app::Housekeeping h(std::move(s), m_manager);
    h.tick(m_t0);
    EXPECT_FALSE(std::filesystem::exists(dir.file("01.05.2017.log")));
}
