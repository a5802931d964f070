// tests/fakes/RecordingSink.h: keeps every position message handed over.
#pragma once

#include <string>
#include <vector>

#include "tracker/PositionSink.h"

namespace fakes {

class RecordingSink final : public tracker::PositionSink
{
public:
    bool SendText(const std::string& text) override
    {
        messages.push_back(text);
        return true;
    }
    std::vector<std::string> messages;
};

} // namespace fakes
