// tracker/PositionSink.h: where the dispatcher hands its position messages.
#pragma once

#include <string>

namespace tracker {

class PositionSink
{
public:
    virtual ~PositionSink() = default;

    // Window's thread. Takes one position message (a JSON line); the outcome is the sink's
    // business: it sends the message or keeps it for later.
    virtual void SendText(const std::string& text) = 0;
};

} // namespace tracker
