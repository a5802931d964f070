// link/LinkClient.h: the message-server client: one thread that runs the link's state machine
// (LinkMachine) turn after turn until it is asked to stop.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "link/FrameFormat.h"
#include "link/LinkControl.h"
#include "link/LinkMachine.h"
#include "link/LinkView.h"
#include "link/Outbox.h"
#include "platform/Thread.h"
#include "platform/TickClock.h"

namespace msglink {

// Waits and limits of the link. The program runs with the defaults; tests hand in a clock they
// advance and shorter real waits.
struct ClientOptions
{
    // Calibrated already (start-up does it once).
    const platform::TickClock* clock = &platform::steadyClock();
    std::string workingDirectory; // empty: the process's current directory
    LinkTimings timings;
    int packetSize = kDefaultPacketSize; // the first receive chunk (PacketSize)
    int idlePauseMs = 10;
    int replyWaitMs = kReplyWaitMs;
    int connectTimeoutMs = kConnectTimeoutMs;
    // Told why the link could not be had (the address, the port and the system's reason), on the
    // client thread. Empty: not told.
    std::function<void(const std::string&)> diagnostic;
};

class LinkClient final : public LinkControl
{
public:
    // Starts the thread; its turns open the outbox's store while it is not open. view and outbox
    // must outlive the client; gatewayNumber is the FirstNumber setting, whose low byte goes to
    // the server at every login.
    LinkClient(LinkView& view, Outbox& outbox, std::int32_t gatewayNumber,
               ClientOptions options = {});
    ~LinkClient() override; // stops the thread if it still runs

    LinkClient(const LinkClient&) = delete;
    LinkClient& operator=(const LinkClient&) = delete;

    void requestStop() override;
    bool finished() const override { return m_finished.load(); }
    void join();

    bool connected() const override { return m_machine.connected(); }
    bool authorised() const override { return m_machine.authorised(); }
    std::uint64_t turns() const override { return m_turns.load(std::memory_order_relaxed); }
    const LinkFigures* figures() const override { return &m_machine.figures(); }

private:
    void execute();

    LinkView& m_view;
    ClientOptions m_options;
    LinkMachine m_machine;
    std::atomic<bool> m_stopRequest{false};
    std::atomic<bool> m_finished{false};
    std::atomic<std::uint64_t> m_turns{0};
    platform::Thread m_thread;
};

} // namespace msglink
