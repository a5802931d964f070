// tests/app/MainThreadTest.cpp: work handed to the main thread runs there, and the caller waits.
#include "platform/MainThread.h"

#include <atomic>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include "app/MainThreadLinkView.h"
#include "app/StatusView.h"

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

TEST(MainThreadTest, IndicatorAdvancesDoNotWaitAndFoldWhilePending)
{
    app::StatusView view;
    app::MainThreadLinkView linkView(view);
    std::atomic<bool> done{false};
    std::thread client([&] {
        for (int i = 0; i < 50; ++i)
            linkView.advanceLinkIndicator(); // the main thread is not serving yet
        done = true;
    });
    client.join(); // returned although nothing ran on the main thread
    EXPECT_TRUE(done);
    EXPECT_EQ(0, view.activity());
    platform::serveMainThreadFor(20);
    EXPECT_EQ(1, view.activity()); // fifty advances while one was pending: one step
    std::thread again([&] { linkView.advanceLinkIndicator(); });
    again.join();
    platform::serveMainThreadFor(20);
    EXPECT_EQ(2, view.activity());
}

TEST(MainThreadTest, EventsFromTheClientThreadWaitUntilTheyAreOnTheList)
{
    app::StatusView view;
    app::MainThreadLinkView linkView(view);
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
