// tests/app/StatusPageTest.cpp: the status page's snapshot and its HTML and JSON.
#include "app/StatusPage.h"

#include <array>

#include <gtest/gtest.h>

#include "tests/fakes/CalendarTime.h"
#include "tests/fakes/FakeClock.h"
#include "tests/fakes/Packets.h"

// Texts from the network (IMEI, version) and from the link reach the page and the JSON escaped,
// and whatever is not UTF-8 becomes U+FFFD in both.
TEST(StatusPageTest, HostileTextsAreEscapedInHtmlAndJson)
{
    const std::string r = "\xEF\xBF\xBD"; // U+FFFD
    const std::vector<std::array<std::string, 4>> rows = {
        {"<script>x</script>", "&lt;script&gt;x&lt;/script&gt;", "<script>x</script>", "<script>"},
        {"a\"b&c'd", "a&quot;b&amp;c&#39;d", "a\\\"b&c'd", "a\"b"},
        {"back\\slash\nline", "back\\slash\nline", "back\\\\slash\\u000aline", ""},
        {"\x01z\x7F", r + "z" + r, "\\u0001z\x7F", "\x01"},
        // A stray byte, an overlong '/' and a surrogate: not one of the six bytes is UTF-8.
        {"\xFF\xC0\xAF\xED\xA0\x80", r + r + r + r + r + r, r + r + r + r + r + r, "\xFF"},
        {"Соединение...", "Соединение...", "Соединение...", ""},
    };
    for (const auto& [text, inHtml, inJson, rawNotInHtml] : rows) {
        SCOPED_TRACE(text);
        app::StatusSnapshot s;
        s.serverAddress = text;
        s.events = {text};
        s.trackers.emplace_back().imei = text;
        const std::string html = app::statusPageHtml(s);
        const std::string json = app::statusJson(s);
        EXPECT_NE(std::string::npos, html.find("<td>" + inHtml + "</td>"));
        EXPECT_NE(std::string::npos, html.find("<li>" + inHtml + "</li>"));
        EXPECT_NE(std::string::npos, json.find("\"imei\":\"" + inJson + "\""));
        EXPECT_NE(std::string::npos, json.find("\"serverAddress\":\"" + inJson + "\""));
        EXPECT_NE(std::string::npos, json.find("\"events\":[\"" + inJson + "\"]"));
        if (!rawNotInHtml.empty()) {
            EXPECT_EQ(std::string::npos, html.find(rawNotInHtml)) << html;
        }
    }
}

TEST(StatusPageTest, SnapshotCopiesTheViewAndDatesEachRowByItsLastPacket)
{
    fakes::FakeClock clock;
    tracker::TrackerTable table;
    tracker::TrackerRow& first = table.add(fakes::imeiFieldOf("356307042441013"));
    first.linked = true;
    first.connection = 7;
    first.version = 25;
    first.dataCount = 12;
    first.lastSeen = clock.read();
    table.add(fakes::imeiFieldOf("356307042441014")).lastSeen = clock.read();
    clock.advanceMs(15'000);
    table.add(fakes::imeiFieldOf("356307042441015")).lastSeen = clock.read();
    clock.advanceMs(5'500);

    app::StatusView view;
    view.setStartTime("07.12.2026 23:00:00");
    view.setPort(21000);
    view.setPortState(app::PortState::Listening);
    view.showServerAddress("10.0.0.5");
    view.setTable(&table);
    for (int i = 0; i < 40; ++i)
        view.appendLinkEvent("line " + std::to_string(i));

    // 20.5 s after the first rows were seen, 10 s into the day: they were seen the day before.
    const app::StatusSnapshot s = app::takeStatusSnapshot(
        view, "gw", app::LinkFigure::Authorised, clock, fakes::calendarTime(2026, 12, 8, 0, 0, 10));
    EXPECT_TRUE(s.listening);
    EXPECT_EQ("10.0.0.5", s.serverAddress);
    ASSERT_EQ(app::kPageEvents, s.events.size());
    EXPECT_NE(std::string::npos, s.events.front().find(" line 10"));
    EXPECT_NE(std::string::npos, s.events.back().find(" line 39"));
    ASSERT_EQ(3u, s.trackers.size());
    EXPECT_EQ(1u, s.trackers[0].number);
    EXPECT_EQ(7u, s.trackers[0].connection);
    EXPECT_EQ("356307042441013", s.trackers[0].imei);
    EXPECT_EQ(20, s.trackers[0].secondsSinceSeen);
    EXPECT_EQ(3u, s.trackers[2].number);
    EXPECT_EQ(5, s.trackers[2].secondsSinceSeen);

    const std::string json = app::statusJson(s);
    EXPECT_NE(std::string::npos,
              json.find(R"({"number":1,"connection":7,"linked":true,"imei":"356307042441013",)"
                        R"("version":25,"dataCount":12,"lastSeen":"07.12.2026 23:59:50",)"
                        R"("secondsSinceSeen":20})"))
        << json;
    EXPECT_NE(std::string::npos,
              json.find(R"("lastSeen":"08.12.2026 0:00:05","secondsSinceSeen":5})"));
    EXPECT_NE(std::string::npos, json.find(R"("takenAt":"08.12.2026 0:00:10",)"));
    const std::string page = app::statusPageHtml(s);
    for (const char* shown : {"as of 08.12.2026 0:00:10", "<td>07.12.2026 23:59:50</td>"})
        EXPECT_NE(std::string::npos, page.find(shown)) << shown;
    EXPECT_NE(std::string::npos, json.find(R"("link":"logged in","serverAddress":"10.0.0.5",)"
                                           R"("trackerPort":21000,"trackerPortListening":true)"));
}
