// tests/app/MainThreadTest.cpp: work handed to the main thread runs there, and the caller waits.
#include "platform/Desktop.h"

#include <QCoreApplication>
#include <QThread>

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "app/MainThreadLinkView.h"
#include "app/StatusView.h"

TEST(MainThreadTest, OtherThreadWaitsUntilTheWorkRanOnTheMainThread)
{
    app::StatusView view;
    QThread* mainThread = QCoreApplication::instance()->thread();
    std::atomic<bool> ranOnMain{false}, done{false};
    std::size_t eventsSeenAfterReturn = 0;
    std::thread client([&] {
        platform::runOnMainThreadAndWait([&] {
            ranOnMain = QThread::currentThread() == mainThread;
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
