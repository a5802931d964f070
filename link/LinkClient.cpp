// link/LinkClient.cpp
#include "link/LinkClient.h"

#include <exception>
#include <thread>

#include "link/LinkTransport.h"
#include "platform/Files.h"
#include "platform/IniFile.h"

namespace msglink {

namespace {

std::string directoryOr(const std::string& chosen)
{
    return chosen.empty() ? platform::currentDirectory() : chosen;
}

} // namespace

LinkClient::LinkClient(LinkView& view, std::int32_t gatewayNumber, ClientOptions options)
    : m_view(view), m_options(std::move(options)),
      m_workingDirectory(directoryOr(m_options.workingDirectory)),
      m_machine(view, *m_options.clock, gatewayNumber, m_workingDirectory, m_options.timings,
                m_options.diagnostic, *m_options.files)
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

bool LinkClient::waitStoreAttempt(std::chrono::milliseconds limit) const
{
    std::unique_lock<std::mutex> lock(m_startMutex);
    m_storeTriedChanged.wait_for(lock, limit, [this] { return m_storeTried; });
    return m_storeTried;
}

void LinkClient::execute()
{
    // The backlog first: start-up waits for it before it takes trackers in, and its files are
    // opened here, not on the window's thread.
    m_machine.openStore();
    {
        std::lock_guard<std::mutex> lock(m_startMutex);
        m_storeTried = true;
    }
    m_storeTriedChanged.notify_all();

    LinkOptions link;
    link.replyWaitMs = m_options.replyWaitMs;
    link.connectTimeoutMs = m_options.connectTimeoutMs;
    link.packetSize =
        platform::IniFile::load(platform::joinPath(m_workingDirectory, "gpsbridge.ini"))
            .integer("ServerHost", "PacketSize", kDefaultPacketSize);
    if (link.packetSize <= 0)
        link.packetSize = kDefaultPacketSize;
    link.onDrop = [this] { m_view.advanceLinkIndicator(); };
    m_machine.start(std::make_unique<LinkTransport>(std::move(link)));

    while (!m_stopRequest) {
        try {
            m_machine.turn();
        } catch (const std::exception& e) {
            // Out of memory, or a fault of ours: said, and the next turn goes on.
            if (m_options.diagnostic)
                m_options.diagnostic(std::string("message-server client: ") + e.what());
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
