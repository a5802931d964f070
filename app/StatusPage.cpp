// app/StatusPage.cpp
#include "app/StatusPage.h"

#include <algorithm>
#include <string_view>

#include "platform/Formats.h"
#include "platform/Utf8.h"
#include "tracker/PositionMessage.h"

namespace app {

namespace {

const char* const kReplacement = "\xEF\xBF\xBD"; // U+FFFD

// Calls out(piece) for each character of text: well-formed UTF-8 sequences as they are, every
// other byte as U+FFFD.
template <typename Out> void forEachCharacter(std::string_view text, Out out)
{
    while (!text.empty()) {
        const std::size_t n = platform::utf8SequenceLength(text);
        out(n == 0 ? std::string_view(kReplacement) : text.substr(0, n));
        text.remove_prefix(std::max<std::size_t>(n, 1));
    }
}

std::string html(std::string_view text)
{
    std::string out;
    forEachCharacter(text, [&out](std::string_view c) {
        const unsigned char b = static_cast<unsigned char>(c[0]);
        if (c.size() > 1)
            out += c;
        else if (b == '&')
            out += "&amp;";
        else if (b == '<')
            out += "&lt;";
        else if (b == '>')
            out += "&gt;";
        else if (b == '"')
            out += "&quot;";
        else if (b == '\'')
            out += "&#39;";
        else if ((b < 0x20 && b != '\t' && b != '\n') || b == 0x7F)
            out += kReplacement; // control characters have no place in the page's text
        else
            out += c;
    });
    return out;
}

std::string json(std::string_view text)
{
    std::string out = "\"";
    forEachCharacter(text, [&out](std::string_view c) {
        tracker::appendJsonEscaped(out, reinterpret_cast<const std::uint8_t*>(c.data()), c.size());
    });
    return out + "\"";
}

const char* linkText(LinkFigure link)
{
    switch (link) {
    case LinkFigure::Authorised:
        return "logged in";
    case LinkFigure::Connected:
        return "connected";
    default:
        return "down";
    }
}

std::string dateTime(const std::tm& t)
{
    return platform::shortDate(t) + " " + platform::longTime(t);
}

// When the tracker's latest packet came, "09.12.2026 21:40:12": reckoned when the page is made,
// so a snapshot of thousands of rows costs no calendar work on the main thread.
std::string lastSeenText(const StatusSnapshot& s, const TrackerLine& t)
{
    return dateTime(platform::localSecondsBefore(s.takenAt, t.secondsSinceSeen));
}

TrackerLine trackerLine(const tracker::TrackerRow& row, std::size_t number,
                        const platform::TickClock& clock, std::uint64_t nowTicks)
{
    TrackerLine line;
    line.number = number;
    line.connection = row.connection;
    line.linked = row.linked;
    line.imei = row.imeiText();
    line.version = row.version;
    line.dataCount = row.dataCount;
    line.secondsSinceSeen = std::max<std::int64_t>(
        0, static_cast<std::int64_t>(clock.msBetween(row.lastSeen, nowTicks) / 1000));
    return line;
}

const char* const kStyle = R"(
body{margin:0;background:#E9F1FA;color:#000;font:14px Tahoma,"Liberation Sans",Arial,sans-serif}
header{background:#CBE1FC;border-bottom:1px solid #9FBFE5;padding:10px 18px}
h1{font-size:18px;margin:0}
.taken{color:#4A5A6E;font-size:12px;margin-top:2px}
main{display:flex;flex-wrap:wrap;gap:16px;padding:16px 18px;align-items:flex-start}
section{background:#FFF;border:1px solid #B8CDE8;border-radius:4px;padding:12px 14px}
.state{flex:1 1 380px;min-width:0}
.grid{flex:2 1 560px;overflow-x:auto}
h2{font-size:14px;margin:0 0 10px}
dl{display:grid;grid-template-columns:max-content 1fr;gap:6px 14px;margin:0 0 16px}
dt{color:#333}
dd{margin:0;font-weight:bold;overflow-wrap:anywhere}
.ok{color:#008000}
.bad{color:#D00000}
ul{list-style:none;margin:0;padding:0;font-size:13px}
li{padding:3px 0;border-top:1px solid #E3EBF5;overflow-wrap:anywhere}
table{border-collapse:collapse;width:100%}
th{background:#CBE1FC;text-align:left}
th,td{border:1px solid #C9D7E9;padding:4px 8px;white-space:nowrap}
td.n{text-align:right}
tr.linked td{color:#008000}
.none{color:#666;font-style:italic}
)";

void appendState(std::string& out, const StatusSnapshot& s)
{
    const bool linkUp = s.link != LinkFigure::Down;
    out += "<section class=\"state\"><h2>Состояние</h2><dl>";
    out += "<dt>Дата и время запуска</dt><dd>" + html(s.startTime) + "</dd>";
    out += "<dt>Связь с сервером сообщений</dt><dd class=\"" + std::string(linkUp ? "ok" : "bad") +
           "\">" + linkText(s.link) + "</dd>";
    out += "<dt>Сервер</dt><dd>" + html(s.serverAddress) + "</dd>";
    out += "<dt>TCP порт</dt><dd class=\"" + std::string(s.listening ? "ok" : "bad") + "\">" +
           std::to_string(s.trackerPort) + (s.listening ? " (listening)" : " (not listening)") +
           "</dd></dl><ul>";
    for (const std::string& line : s.events)
        out += "<li>" + html(line) + "</li>";
    if (s.events.empty())
        out += "<li class=\"none\">no link events yet</li>";
    out += "</ul></section>";
}

void appendGrid(std::string& out, const StatusSnapshot& s)
{
    out += "<section class=\"grid\"><h2>Трекеры: " + std::to_string(s.trackers.size()) +
           "</h2><table><tr><th>№</th><th>Связь</th><th>IMEI</th><th>Версия</th><th>Данные</th>"
           "<th>Соединение</th><th>Последний пакет</th></tr>";
    for (const TrackerLine& t : s.trackers) {
        out += t.linked ? "<tr class=\"linked\">" : "<tr>";
        out += "<td class=\"n\">" + std::to_string(t.number) + "</td><td>" +
               (t.linked ? "OK" : "") + "</td><td>" + html(t.imei) + "</td><td class=\"n\">" +
               std::to_string(t.version) + "</td><td class=\"n\">" + std::to_string(t.dataCount) +
               "</td><td class=\"n\">" + std::to_string(t.connection) + "</td><td>" +
               html(lastSeenText(s, t)) + "</td></tr>";
    }
    if (s.trackers.empty())
        out += "<tr><td colspan=\"7\" class=\"none\">no tracker seen since start</td></tr>";
    out += "</table></section>";
}

} // namespace

StatusSnapshot takeStatusSnapshot(const StatusView& view, const std::string& caption,
                                  LinkFigure link, const platform::TickClock& clock,
                                  const std::tm& now)
{
    StatusSnapshot s;
    s.caption = caption;
    s.takenAt = now;
    s.startTime = view.startTime();
    s.link = link;
    s.serverAddress = view.serverAddress();
    s.trackerPort = view.port();
    s.listening = view.portState() == PortState::Listening;
    const std::deque<std::string>& events = view.events();
    s.events.assign(events.end() -
                        static_cast<std::ptrdiff_t>(std::min(events.size(), kPageEvents)),
                    events.end());
    if (const tracker::TrackerTable* table = view.table()) {
        const std::uint64_t nowTicks = clock.read();
        s.trackers.reserve(table->size());
        for (const tracker::TrackerRow& row : table->rows())
            s.trackers.push_back(trackerLine(row, s.trackers.size() + 1, clock, nowTicks));
    }
    return s;
}

std::string statusPageHtml(const StatusSnapshot& s)
{
    std::string out = "<!DOCTYPE html>\n<html lang=\"ru\"><head><meta charset=\"utf-8\">"
                      "<meta http-equiv=\"refresh\" content=\"5\">"
                      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
                      "<title>" +
                      html(s.caption) + "</title><style>" + kStyle + "</style></head><body>";
    out += "<header><h1>" + html(s.caption) + "</h1><div class=\"taken\">as of " +
           html(dateTime(s.takenAt)) + ", reloads every 5 s</div></header><main>";
    appendState(out, s);
    appendGrid(out, s);
    return out + "</main></body></html>\n";
}

std::string statusJson(const StatusSnapshot& s)
{
    std::string out =
        "{\"caption\":" + json(s.caption) + ",\"takenAt\":" + json(dateTime(s.takenAt)) +
        ",\"startTime\":" + json(s.startTime) + ",\"link\":" + json(linkText(s.link)) +
        ",\"serverAddress\":" + json(s.serverAddress) +
        ",\"trackerPort\":" + std::to_string(s.trackerPort) +
        ",\"trackerPortListening\":" + (s.listening ? "true" : "false") + ",\"events\":[";
    for (std::size_t i = 0; i < s.events.size(); ++i)
        out += (i ? "," : "") + json(s.events[i]);
    out += "],\"trackers\":[";
    for (std::size_t i = 0; i < s.trackers.size(); ++i) {
        const TrackerLine& t = s.trackers[i];
        out += std::string(i ? "," : "") + "{\"number\":" + std::to_string(t.number) +
               ",\"connection\":" + std::to_string(t.connection) +
               ",\"linked\":" + (t.linked ? "true" : "false") + ",\"imei\":" + json(t.imei) +
               ",\"version\":" + std::to_string(t.version) +
               ",\"dataCount\":" + std::to_string(t.dataCount) +
               ",\"lastSeen\":" + json(lastSeenText(s, t)) +
               ",\"secondsSinceSeen\":" + std::to_string(t.secondsSinceSeen) + "}";
    }
    return out + "]}\n";
}

} // namespace app
