// link/LinkControl.h: what start-up, the window, the service duties and the orderly stop need of
// the message-server client's thread.
#pragma once

#include <cstdint>

#include "link/LinkMachine.h"

namespace msglink {

class LinkControl
{
public:
    virtual ~LinkControl() = default;

    // Window's thread. Clears `link enabled`, then sets `stop request`; the client's thread
    // leaves its loop after its current turn. What the server has not taken stays in the backlog.
    virtual void requestStop() = 0;

    // Any thread, without a lock. The thread has ended.
    virtual bool finished() const = 0;
    // The link is up; and logged in.
    virtual bool connected() const = 0;
    virtual bool authorised() const = 0;
    // Turns of the client's loop so far; a count that stops moving means a thread stuck in a
    // call (the service watchdog watches it).
    virtual std::uint64_t turns() const = 0;
    // What the client has done so far; null: nothing to tell.
    virtual const LinkFigures* figures() const { return nullptr; }
};

} // namespace msglink
