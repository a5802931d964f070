// tests/app/MainThreadTest.cpp: work handed to the main thread runs there, and the caller waits.
#include "platform/MainThread.h"

#include <atomic>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include "app/MainThreadLinkView.h"
#include "app/StatusView.h"
#include "tests/fakes/FakeClock.h"

TEST(MainThreadTest, OtherThreadWaitsUntilTheWorkRanOnTheMainThread)
{
    app::StatusView view;
    const std::thread::id mainThread = std::this_thread::get_id();
    std::atomic<bool> ranOnMain{false}, done{false};
    std::size_t eventsSeenAfterReturn = 0;
    std::thread client([&] {
        platform::runOnMainThreadAndWait([&] {
            ranOnMain = std::this_thread::get_id() == mainThread;
            view.appendLinkEvent("Соединение...");
        });
        eventsSeenAfterReturn = view.events().size(); // read after the hand-over returned
        platform::runOnMainThreadAndWait([&] { view.advanceLinkIndicator(); });
        done = true;
    });
    for (int i = 0; i < 500 && !done; ++i)
        platform::serveMainThreadFor(10);
    client.join();
    EXPECT_TRUE(ranOnMain);
    EXPECT_EQ(1u, eventsSeenAfterReturn);
    EXPECT_EQ(1, view.activity());
}

TEST(MainThreadTest, MainThreadRunsItsOwnWorkAtOnce)
{
    int ran = 0;
    platform::runOnMainThreadAndWait([&] { ++ran; });
    EXPECT_EQ(1, ran);
}

TEST(MainThreadTest, IndicatorAdvancesDoNotWaitAndFoldIntoOneStepPerInterval)
{
    app::StatusView view;
    fakes::FakeClock clock;
    app::MainThreadLinkView linkView(view, clock);
    // From the client thread; then the main thread serves until a marker posted after them ran.
    auto advance = [&](int times) {
        const int before = view.activity();
        std::atomic<bool> served{false};
        std::thread client([&] {
            for (int i = 0; i < times; ++i)
                linkView.advanceLinkIndicator();
            platform::postToMainThread([&] { served = true; });
        });
        client.join();
        EXPECT_EQ(before,
                  view.activity()); // the client returned while the main thread did not serve
        for (int i = 0; i < 30000 && !served; ++i)
            platform::serveMainThreadFor(1);
        return view.activity();
    };
    EXPECT_EQ(1, advance(50)); // folded into one step
    clock.advanceMs(app::MainThreadLinkView::kIndicatorStepMs - 1);
    EXPECT_EQ(1, advance(1)); // too soon after it
    clock.advanceMs(1);
    EXPECT_EQ(2, advance(1));
}

TEST(MainThreadTest, EventsFromTheClientThreadWaitUntilTheyAreOnTheList)
{
    app::StatusView view;
    app::MainThreadLinkView linkView(view, platform::steadyClock());
    std::atomic<bool> done{false};
    std::size_t seen = 0;
    std::thread client([&] {
        linkView.appendLinkEvent("Соединение...");
        linkView.showServerAddress("10.0.0.9");
        seen = view.events().size();
        done = true;
    });
    for (int i = 0; i < 300 && !done; ++i)
        platform::serveMainThreadFor(10);
    client.join();
    EXPECT_EQ(1u, seen);
    EXPECT_EQ("10.0.0.9", view.serverAddress());
}

TEST(MainThreadTest, WorkThatThrowsHandsItsErrorToTheWaitingThread)
{
    std::atomic<bool> done{false};
    bool caught = false;
    std::thread client([&] {
        try {
            platform::runOnMainThreadAndWait([] { throw std::runtime_error("view gone"); });
        } catch (const std::runtime_error&) {
            caught = true;
        }
        done = true;
    });
    for (int i = 0; i < 300 && !done; ++i)
        platform::serveMainThreadFor(10); // must not throw here, on the main thread
    client.join();
    EXPECT_TRUE(caught);
}
