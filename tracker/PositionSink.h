// tracker/PositionSink.h: where the dispatcher hands its position messages.
#pragma once

#include <cstdint>
#include <string>

namespace tracker {

class PositionSink
{
public:
    virtual ~PositionSink() = default;

    // Window's thread. Takes one position message (a JSON line). True once the message is kept
    // (written where a killed process does not lose it); false when it could not be kept: the
    // caller holds it and hands it over again later.
    virtual bool storeMessage(const std::string& text) = 0;

    // Window's thread, after each dispatch tick. Every record up to this number (as the hand-over
    // queue numbers them) has all its messages stored; the sink tells the queue when they are
    // durable, so they may be acknowledged.
    virtual void recordsStored(std::uint64_t /*records*/) {}
};

} // namespace tracker
