// tests/fakes/RecordingSink.h: keeps every position message handed over, or refuses them all
// while told to (a backlog that cannot be written).
#pragma once

#include <string>
#include <vector>

#include "tracker/PositionSink.h"

namespace fakes {

class RecordingSink final : public tracker::PositionSink
{
public:
    bool storeMessage(const std::string& text) override
    {
        if (refusing) {
            ++refused;
            return false;
        }
        messages.push_back(text);
        return true;
    }
    std::vector<std::string> messages;
    bool refusing = false;
    int refused = 0;
};

} // namespace fakes
