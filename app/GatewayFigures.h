// app/GatewayFigures.h: one reading of the gateway's running figures, for the metrics endpoint
// and the service manager's status line.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/Stats.h"

namespace app {

enum class LinkFigure
{
    Down = 0,
    Connected = 1, // up, not yet logged in
    Authorised = 2
};

struct GatewayFigures
{
    std::uint64_t trackersConnected = 0;   // connections being served now
    std::uint64_t packetsAcknowledged = 0; // since start
    std::uint64_t recordsDispatched = 0;   // position records decoded and handed on
    std::uint64_t deliveredLive = 0;       // messages the server answered, sent as they came
    std::uint64_t deliveredBacklog = 0;    // messages the server confirmed from the backlog
    std::uint64_t reconnects = 0;          // connection attempts after the first
    std::int64_t backlogDepth = 0;         // messages waiting in dd8/
    double backlogOldestAgeSeconds = 0;    // how long the oldest of them has waited; 0 if none
    LinkFigure link = LinkFigure::Down;
    platform::Histogram::Snapshot storedToDelivered; // storing in the backlog to delivery, seconds
    // Packets not acknowledged, by why.
    std::uint64_t refusedWrongChecksum = 0; // whole packets with a wrong checksum
    std::uint64_t refusedStalled = 0;       // packets that stopped coming midway
    std::uint64_t refusedQueueFull = 0;     // the hand-over queue was full
    std::uint64_t refusedWithheld = 0;      // not kept in time, or records before identification
    std::uint64_t backlogWriteErrors = 0;   // store openings, appends and syncs that failed
    std::uint64_t resends = 0;              // data messages sent to the server again
    // Message-server links dropped or not had, by reason ("no_login", ...); empty without a client.
    std::vector<std::pair<std::string, std::uint64_t>> linkDrops;
};

} // namespace app
