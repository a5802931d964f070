// app/LinkClient.h: what start-up, the dispatcher and the orderly stop need of the
// message-server client.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "link/LinkMachine.h"
#include "tracker/PositionSink.h"

namespace app {

class LinkClient : public tracker::PositionSink
{
public:
    // Window's thread. Clears `link enabled`, then sets `stop request`; the client's thread
    // leaves its loop after its current turn.
    virtual void requestStop() = 0;

    // Any thread. True once the client's thread has ended.
    virtual bool finished() const = 0;

    // Any thread. The link is up.
    virtual bool connected() const = 0;

    // Any thread. Empty while the backlog is open and writable; otherwise why not.
    virtual std::string storeProblem() const { return {}; }

    // Any thread. Waits, at most limit, until the client has tried to open its backlog; true
    // once it has.
    virtual bool waitStoreAttempt(std::chrono::milliseconds) const { return true; }

    // Any thread. Messages waiting in the backlog, and how long the oldest has waited.
    virtual std::int64_t backlogDepth() const { return 0; }
    virtual double oldestWaitingSeconds() const { return 0; }

    // Any thread. Logged in to the server; what the client has done so far (null: nothing).
    virtual bool authorised() const { return false; }
    virtual const msglink::LinkFigures* figures() const { return nullptr; }

    // Any thread. Turns of the client's loop so far; a count that stops moving means a thread
    // stuck in a call (the service watchdog watches it).
    virtual std::uint64_t turns() const = 0;
};

} // namespace app
