// tests/system/Deliveries.h: what the simulator saw acknowledged against what the message
// servers printed, for the system tests of the real programs.
#pragma once

#include <cstdlib>

#include <algorithm>
#include <chrono>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Formats.h"
#include "tests/fakes/TempDir.h"
#include "tests/fakes/TrackerClient.h"

namespace systemtest {

using Record = std::pair<std::string, std::string>; // IMEI, time text

inline std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            out.push_back(line);
    return out;
}

// The value of "key":"value" in a JSON line, or "".
inline std::string jsonText(const std::string& line, const std::string& key)
{
    std::string open = "\"" + key + "\":\"";
    std::size_t at = line.find(open);
    if (at == std::string::npos)
        return {};
    at += open.size();
    return line.substr(at, line.find('"', at) - at);
}

// The records of the position messages a server printed.
inline std::multiset<Record> received(const std::string& output)
{
    std::multiset<Record> out;
    for (auto& line : lines(output)) {
        std::string imei = jsonText(line, "imei"), time = jsonText(line, "time");
        if (!imei.empty() && !time.empty())
            out.insert({imei, time});
    }
    return out;
}

// The records the simulator saw acknowledged, with their time as the gateway writes it.
inline std::set<Record> acknowledged(const std::string& ackedLog)
{
    std::set<Record> out;
    for (auto& line : lines(ackedLog)) {
        std::istringstream in(line);
        std::string imei;
        std::uint32_t seconds = 0;
        in >> imei >> seconds;
        std::tm t = platform::calendarFromEpoch(seconds);
        std::string text = platform::shortDate(t);
        if (seconds % 86400 != 0)
            text += " " + platform::longTime(t);
        out.insert({imei, text});
    }
    return out;
}

// Waits until every record in the acknowledged log is among those the servers printed.
inline bool allDelivered(const fakes::TempDir& dir, const std::string& ackedLog,
                         const std::vector<std::string>& outputs, std::chrono::seconds limit)
{
    const auto until = std::chrono::steady_clock::now() + limit;
    for (;; std::this_thread::sleep_for(std::chrono::milliseconds(100))) {
        const std::set<Record> acked = acknowledged(dir.read(ackedLog));
        std::multiset<Record> got;
        for (auto& o : outputs)
            got.merge(received(dir.read(o)));
        const auto missing =
            std::count_if(acked.begin(), acked.end(), [&](auto& r) { return got.count(r) == 0; });
        if (!acked.empty() && missing == 0)
            return true;
        if (std::chrono::steady_clock::now() > until) {
            ADD_FAILURE() << missing << " of " << acked.size() << " acknowledged records missing";
            return false;
        }
    }
}

// Waits until something accepts connections on the loopback port.
inline bool waitListening(std::uint16_t port, std::chrono::seconds limit = std::chrono::seconds(6))
{
    return fakes::eventually([&] { return fakes::TrackerClient(port).connected(); },
                             static_cast<int>(limit.count() * 1000));
}

// The metrics port a gateway started with MetricsAddress=127.0.0.1:0 noted in its standard error
// (errFile in dir), once it has; 0 when it did not within 10 s.
inline std::uint16_t awaitMetricsPort(const fakes::TempDir& dir, const std::string& errFile)
{
    const std::string start = "metrics at http://127.0.0.1:";
    std::uint16_t port = 0;
    fakes::eventually(
        [&] {
            const std::string err = dir.read(errFile);
            const std::size_t at = err.find(start);
            if (at != std::string::npos)
                port = static_cast<std::uint16_t>(std::atoi(err.c_str() + at + start.size()));
            return port != 0;
        },
        10000);
    return port;
}

} // namespace systemtest
