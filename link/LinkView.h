// link/LinkView.h: the three things the message-server client may change in the status view.
#pragma once

#include <string>

namespace msglink {

// Implemented by the application shell. Each call runs on the window's thread; a call from
// another thread waits until it has run there. Never call it while holding a lock the window's
// thread may want.
class LinkView
{
public:
    virtual ~LinkView() = default;

    // Adds "<date> <time> <text>" to the event list.
    virtual void appendLinkEvent(const std::string& text) = 0;

    // Sets the server label.
    virtual void showServerAddress(const std::string& address) = 0;

    // Moves the activity bar one step and redraws the indicator.
    virtual void advanceLinkIndicator() = 0;
};

} // namespace msglink
