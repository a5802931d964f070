// link/LinkClient.cpp
#include "link/LinkClient.h"

#include <chrono>
#include <exception>
#include <thread>

#include "link/LinkTransport.h"
#include "platform/Files.h"

namespace msglink {

namespace {

std::string directoryOr(const std::string& chosen)
{
    return chosen.empty() ? platform::currentDirectory() : chosen;
}

} // namespace

LinkClient::LinkClient(LinkView& view, Outbox& outbox, std::int32_t gatewayNumber,
                       ClientOptions options)
    : m_view(view), m_options(std::move(options)),
      m_machine(view, *m_options.clock, outbox, gatewayNumber,
                directoryOr(m_options.workingDirectory), m_options.timings, m_options.diagnostic)
{
    m_thread.start([this] { execute(); });
}

LinkClient::~LinkClient()
{
    requestStop();
    join();
}

void LinkClient::join()
{
    if (m_thread.joinable())
        m_thread.join();
}

void LinkClient::requestStop()
{
    m_machine.setLinkEnabled(false);
    m_stopRequest = true;
}

void LinkClient::execute()
{
    LinkOptions link;
    link.replyWaitMs = m_options.replyWaitMs;
    link.connectTimeoutMs = m_options.connectTimeoutMs;
    link.packetSize = m_options.packetSize > 0 ? m_options.packetSize : kDefaultPacketSize;
    link.onDrop = [this] { m_view.advanceLinkIndicator(); };
    m_machine.start(std::make_unique<LinkTransport>(std::move(link)));

    while (!m_stopRequest) {
        try {
            m_machine.turn();
        } catch (const std::exception& e) {
            // Out of memory, or a fault of ours: said, and the next turn goes on.
            if (m_options.diagnostic)
                m_options.diagnostic(std::string("a turn of the client failed (") + e.what() +
                                     "); the next one goes on");
        }
        m_turns.fetch_add(1, std::memory_order_relaxed);
        // While frames wait, the next turn starts at once; the link's pace is then the
        // server's reply time.
        if (!m_machine.connected() || !m_machine.framesWaiting())
            std::this_thread::sleep_for(std::chrono::milliseconds(m_options.idlePauseMs));
    }
    m_machine.end();
    m_finished = true;
}

} // namespace msglink
