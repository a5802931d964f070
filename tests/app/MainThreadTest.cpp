// tests/app/MainThreadTest.cpp: work handed to the main thread runs there, and the caller waits.
#include "platform/Desktop.h"

#include <QCoreApplication>
#include <QThread>

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

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
