// tests/fakes/ScriptedSource.h: a connection's bytes played back from a script, for the packet
// reader and the intake without sockets.
#pragma once

#include <algorithm>
#include <deque>
#include <vector>

#include "tracker/PacketReader.h"

namespace fakes {

// Each step is either bytes, delivered up to the count asked (the rest kept for the next
// receive), or a status. A receive past the script's end times out: a wait that ran out.
class ScriptedSource final : public tracker::ByteSource
{
public:
    void bytes(const tracker::Bytes& b)
    {
        if (!b.empty())
            m_steps.push_back({tracker::ReceiveStatus::Data, b});
    }
    // Each byte its own receive, as from a tracker sending one byte at a time.
    void bytesOneByOne(const tracker::Bytes& b)
    {
        for (std::uint8_t x : b)
            bytes({x});
    }
    void status(tracker::ReceiveStatus s) { m_steps.push_back({s, {}}); }

    tracker::ReceiveStatus receive(std::uint8_t* buffer, std::size_t count,
                                   std::size_t* received) override
    {
        asked.push_back(count);
        *received = 0;
        if (m_steps.empty())
            return tracker::ReceiveStatus::TimedOut;
        Step& step = m_steps.front();
        if (step.status != tracker::ReceiveStatus::Data) {
            tracker::ReceiveStatus s = step.status;
            m_steps.pop_front();
            return s;
        }
        std::size_t n = std::min(count, step.data.size());
        std::copy_n(step.data.begin(), n, buffer);
        step.data.erase(step.data.begin(), step.data.begin() + static_cast<long>(n));
        if (step.data.empty())
            m_steps.pop_front();
        *received = n;
        return tracker::ReceiveStatus::Data;
    }

    // Bytes still unread, in order.
    tracker::Bytes unread() const
    {
        tracker::Bytes out;
        for (auto& s : m_steps)
            out.insert(out.end(), s.data.begin(), s.data.end());
        return out;
    }

    std::vector<std::size_t> asked; // the count of every receive made

private:
    struct Step
    {
        tracker::ReceiveStatus status;
        tracker::Bytes data;
    };
    std::deque<Step> m_steps;
};

} // namespace fakes
