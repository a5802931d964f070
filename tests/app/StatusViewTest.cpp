// tests/app/StatusViewTest.cpp: the status page's state.
#include "app/StatusView.h"

#include <initializer_list>

#include <gtest/gtest.h>

#include "tests/fakes/CalendarTime.h"

using app::StatusView;

namespace {

std::tm at(int h, int m, int s)
{
    return fakes::calendarTime(2026, 12, 8, h, m, s);
}

void appendAll(StatusView& view, std::initializer_list<const char*> texts)
{
    for (const char* text : texts)
        view.appendLinkEvent(text);
}

} // namespace

TEST(StatusViewTest, EventLineIsDateTimeAndText)
{
    StatusView view([] { return at(7, 5, 9); });
    std::vector<std::string> told;
    view.onEventAppended = [&](const std::string& line) { told.push_back(line); };
    view.appendLinkEvent("Соединение установлено.");
    ASSERT_EQ(1u, view.events().size());
    EXPECT_EQ("08.12.2026 7:05:09 Соединение установлено.", view.events()[0]);
    EXPECT_EQ(view.events(), std::deque<std::string>(told.begin(), told.end()));
}

TEST(StatusViewTest, RepeatedConnectingShowsAsOneLineTheNewest)
{
    int second = 0;
    StatusView view([&] { return at(10, 0, second++); });
    appendAll(view, {"Соединение..."});
    ASSERT_EQ(1u, view.events().size()); // alone: nothing to merge with
    appendAll(view, {"Соединение...", "Соединение..."});
    ASSERT_EQ(1u, view.events().size());
    EXPECT_EQ("08.12.2026 10:00:02 Соединение...", view.events()[0]);
    appendAll(view, {"Соединение установлено.", "Ошибки по сети - переподсоединение.",
                     "Соединение...", "Соединение..."});
    ASSERT_EQ(4u, view.events().size());
    EXPECT_EQ("08.12.2026 10:00:06 Соединение...", view.events()[3]);
    // Other texts never merge, not even with each other.
    appendAll(view, {"Доступ запрещен.", "Доступ запрещен."});
    EXPECT_EQ(6u, view.events().size());
}

TEST(StatusViewTest, EventListKeepsTheNewest100)
{
    int n = 0;
    StatusView view([&] { return at(0, n / 60, n % 60); });
    for (; n < 101; ++n)
        view.appendLinkEvent("e" + std::to_string(n));
    ASSERT_EQ(100u, view.events().size());
    EXPECT_EQ("08.12.2026 0:00:01 e1", view.events().front());
    EXPECT_EQ("08.12.2026 0:01:40 e100", view.events().back());
}

TEST(StatusViewTest, ActivityCounterRunsZeroToSixteenAndWraps)
{
    StatusView view;
    int changes = 0;
    view.onLinkChanged = [&] { ++changes; };
    EXPECT_EQ(0, view.activity());
    for (int i = 1; i <= 16; ++i) {
        view.advanceLinkIndicator();
        ASSERT_EQ(i, view.activity());
    }
    view.advanceLinkIndicator();
    EXPECT_EQ(0, view.activity());
    EXPECT_EQ(17, changes);
}

TEST(StatusViewTest, ServerLabelStartsAsADotAndGridHasAtLeastTwoRows)
{
    StatusView view;
    EXPECT_EQ(".", view.serverAddress());
    view.showServerAddress("10.1.2.3");
    EXPECT_EQ("10.1.2.3", view.serverAddress());
    EXPECT_EQ(2u, view.gridRowCount());
    tracker::TrackerTable table;
    view.setTable(&table);
    EXPECT_EQ(2u, view.gridRowCount());
    tracker::ImeiField imei{15,  '1', '2', '3', '4', '5', '6', '7',
                            '8', '9', '0', '1', '2', '3', '4', '5'};
    table.add(imei);
    EXPECT_EQ(2u, view.gridRowCount());
    imei[15] = '6';
    table.add(imei);
    EXPECT_EQ(3u, view.gridRowCount());
}
