// bench/LoadStage.h: one load scenario's scratch directory, ports and processes: the test message
// server, a gateway under test and the simulated trackers, all on loopback.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bench/LoadLedger.h"
#include "tests/fakes/Process.h"

namespace loadbench {

// A gateway program the scenarios run: gpsbridge (this build's or another's) takes its ports from
// gpsbridge.ini in its working directory; the stand-in takes them on its command line.
struct GatewayUnderTest
{
    std::string label; // "new", "baseline", "stand-in": the table's gateway column
    std::string binary;
    bool standIn = false;
};

// Calls done every 20 ms until it is true (true) or limit has passed (false).
bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);

// The whole file; empty when it cannot be read.
std::string readFile(const std::string& path);

class Stage
{
public:
    // A directory under the system's temporary directory holding gpsbridge.ini with two free
    // loopback ports; removed at the end unless kept.
    Stage(const std::string& name, bool keep);
    ~Stage();
    Stage(const Stage&) = delete;
    Stage& operator=(const Stage&) = delete;

    bool ready() const { return !m_dir.empty(); }
    std::string file(const std::string& name) const { return m_dir + "/" + name; }

    // msgserver on the server port, stamping every message; true once it listens.
    bool startServer();
    // The gateway; true once its tracker port is open.
    bool startGateway(const GatewayUnderTest& gateway);
    bool gatewayLoggedIn() const;
    bool gatewayRunning() const { return m_gateway && m_gateway->running(); }
    // Nothing when no gateway was started.
    std::optional<pid_t> gatewayPid() const;

    // gt20sim: trackers sending `records` records a packet, a packet every intervalS seconds
    // ("0": the next as soon as the last is acknowledged); amount is gt20sim's --duration or
    // --count. The acknowledged records go to acked.txt.
    void startTrackers(std::size_t trackers, std::size_t records, const std::string& intervalS,
                       const std::vector<std::string>& amount);
    // Waits up to limit for the trackers to finish, however they end; false while they run.
    bool trackersDone(std::chrono::seconds limit);

    void stopAll();

    std::uint16_t serverPort() const { return m_serverPort; }

    // A figure of gt20sim's summary ("unacknowledged" gives N from "unacknowledged N"), or "".
    std::string trackersSummary(const std::string& name) const;

private:
    // Waits until the file holds the text.
    bool says(const std::string& name, const std::string& text, std::chrono::seconds limit) const;

    bool m_keep;
    std::string m_dir;
    std::uint16_t m_trackerPort = 0;
    std::uint16_t m_serverPort = 0;
    std::unique_ptr<fakes::Process> m_server, m_gateway, m_trackers;
};

} // namespace loadbench
