// app/StatusPage.h: what the status window shows, copied on the main thread for the status page
// that the metrics endpoint serves, and that page as HTML and as JSON.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "app/GatewayFigures.h"
#include "app/StatusView.h"
#include "platform/TickClock.h"

namespace app {

// The newest lines of the event list that the page shows.
inline constexpr std::size_t kPageEvents = 30;

struct TrackerLine
{
    std::size_t number = 0;       // the grid's row number, from 1
    std::uint32_t connection = 0; // the connection its latest identification came on
    bool linked = false;
    std::string imei; // as the tracker sent it: untrusted bytes
    unsigned version = 0;
    std::int64_t dataCount = 0;
    std::int64_t secondsSinceSeen = 0; // its latest packet, before the snapshot
};

struct StatusSnapshot
{
    std::string caption; // the window's title
    std::tm takenAt{};   // local time of the snapshot; the trackers' times are reckoned from it
    std::string startTime;
    LinkFigure link = LinkFigure::Down;
    std::string serverAddress;
    std::uint16_t trackerPort = 0;
    bool listening = false;
    std::vector<std::string> events; // the newest kPageEvents lines, oldest first
    std::vector<TrackerLine> trackers;
};

// What hands one reading of the figures, with the status page's snapshot taken at the same
// time, to the endpoint. Called on the main thread.
using PublishStatus = std::function<void(const GatewayFigures&, StatusSnapshot)>;

// Main (window's) thread: reads the view and its tracker table. clock is the one the
// dispatcher stamps the rows with, now the local time.
StatusSnapshot takeStatusSnapshot(const StatusView& view, const std::string& caption,
                                  LinkFigure link, const platform::TickClock& clock,
                                  const std::tm& now);

// The page, UTF-8, reloading itself every 5 s; every text in it is escaped, and bytes that are
// not UTF-8 show as U+FFFD.
std::string statusPageHtml(const StatusSnapshot& status);

// The same data as one JSON object (field names in the README).
std::string statusJson(const StatusSnapshot& status);

} // namespace app
