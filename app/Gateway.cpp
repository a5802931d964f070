// app/Gateway.cpp
#include "app/Gateway.h"

#include "platform/MainThread.h"
#include "platform/Files.h"
#include "platform/Formats.h"
#include "platform/IniFile.h"

namespace app {

std::string makeClosePassword(std::mt19937& random)
{
    std::uniform_int_distribution<int> draw(0, 89998);
    return std::to_string(draw(random) + 10000);
}

tracker::ListenerOptions tunedListenerOptions(tracker::ListenerOptions options,
                                              const MainSettings& settings)
{
    if (settings.identifyLimitMs > 0)
        options.identifyLimitMs = settings.identifyLimitMs;
    if (settings.idleWorkerMs > 0)
        options.idleWorkerMs = settings.idleWorkerMs;
    return options;
}

Gateway::Gateway(StatusView& view, GatewayOptions options)
    : m_view(view), m_options(std::move(options))
{
}

Gateway::~Gateway()
{
    stop();
}

void Gateway::start()
{
    const platform::TickClock& clock = *m_options.listener.clock;
    clock.calibrate(m_options.calibration);

    std::mt19937 random(static_cast<std::uint32_t>(
        std::chrono::system_clock::now().time_since_epoch().count() ^ clock.read()));
    m_view.setPassword(makeClosePassword(random));

    m_workingDirectory = m_options.workingDirectory.empty() ? platform::currentDirectory()
                                                            : m_options.workingDirectory;
    platform::createDirectory(platform::joinPath(m_workingDirectory, "log")); // failure ignored

    // The settings are read once, before start-up or here; the file is not kept open.
    m_settings = m_options.settings ? *m_options.settings : loadSettings(m_workingDirectory);
    const MainSettings& main = m_settings.main;

    m_dayLog = std::make_unique<platform::DayLog>(m_workingDirectory);
    m_listener = std::make_unique<tracker::TrackerListener>(
        *m_dayLog, tunedListenerOptions(m_options.listener, main));
    m_listener->setPort(main.port);
    m_view.setPort(main.port);
    if (!main.caption.empty())
        m_caption = main.caption;

    std::tm now = platform::localNow();
    m_view.setStartTime(platform::shortDate(now) + " " + platform::longTime(now));

    // Trackers are taken in once the backlog has been tried: open, or failed (which the outbox
    // tells, and the client tries again every second).
    msglink::OutboxOptions outbox = m_options.outbox;
    // A record is acknowledged once its messages are on the disk.
    outbox.onDurable = [queue = &m_listener->queue()](std::uint64_t records) {
        queue->markKept(records);
    };
    m_outbox = std::make_unique<msglink::Outbox>(m_linkView, clock, m_workingDirectory, outbox,
                                                 m_options.outboxDiagnostic);
    m_outbox->open();
    m_dispatcher = std::make_unique<tracker::Dispatcher>(m_listener->queue(), *m_dayLog, *m_outbox,
                                                         clock, m_options.dispatch);
    m_view.setTable(&m_dispatcher->table());
    if (m_options.makeClient)
        m_client = m_options.makeClient(m_linkView, *m_outbox, m_settings);

    m_listener->start();
    // Read once, as soon as the listener has tried its port: the port label keeps this colour
    // for the rest of the run.
    const bool open = m_listener->waitOpenAttempt(m_options.listenerSettle);
    m_view.setPortState(open ? PortState::Listening : PortState::Closed);
}

GatewayFigures Gateway::figures() const
{
    GatewayFigures f;
    if (m_listener) {
        f.trackersConnected = m_listener->servingCount();
        const tracker::IntakeCounts& counts = m_listener->counts();
        f.packetsAcknowledged = counts.acknowledged.get();
        f.refusedWrongChecksum = counts.wrongChecksum.get();
        f.refusedStalled = counts.stalled.get();
        f.refusedQueueFull = counts.refusedQueueFull.get();
        f.refusedWithheld = counts.withheld.get();
    }
    if (m_dispatcher)
        f.recordsDispatched = m_dispatcher->positionsDispatched();
    if (m_outbox) {
        f.backlogDepth = m_outbox->depth();
        f.backlogOldestAgeSeconds = m_outbox->oldestWaitingSeconds();
        f.deliveredLive = m_outbox->figures().deliveredLive.get();
        f.deliveredBacklog = m_outbox->figures().deliveredBacklog.get();
        f.storedToDelivered = m_outbox->figures().storedToDelivered.snapshot();
        f.backlogWriteErrors = m_outbox->figures().writeErrors.get();
    }
    if (!m_client)
        return f;
    if (m_client->connected())
        f.link = m_client->authorised() ? LinkFigure::Authorised : LinkFigure::Connected;
    if (const msglink::LinkFigures* link = m_client->figures()) {
        const std::uint64_t attempts = link->attempts.get();
        f.reconnects = attempts > 0 ? attempts - 1 : 0;
        for (std::size_t i = 0; i < msglink::kDropReasons; ++i)
            f.linkDrops.emplace_back(
                msglink::dropReasonName(static_cast<msglink::DropReason>(i)), link->drops[i].get());
        f.resends = link->resends.get();
    }
    return f;
}

StatusSnapshot Gateway::statusSnapshot(LinkFigure link) const
{
    return takeStatusSnapshot(m_view, m_caption, link, *m_options.listener.clock,
                              platform::localNow());
}

bool Gateway::dispatchTick()
{
    ++m_dispatcherTicks;
    return m_dispatcher && m_dispatcher->tick();
}

void Gateway::stop()
{
    if (m_stopped || !m_listener)
        return;
    m_stopped = true;
    // Every packet a tracker was told is delivered goes on to the client before it stops.
    m_listener->stop();
    m_dispatcher->drain();
    // What a failing backlog refused to the end was never acknowledged: the trackers still
    // have it. It is counted, so that the stop can say so.
    m_unkeptAtStop = m_dispatcher->heldMessages();
    tracker::Bytes record;
    std::uint32_t connection = 0;
    while (m_listener->queue().peekPacket(&record, &connection)) {
        m_listener->queue().popPacket();
        ++m_unkeptAtStop;
    }
    if (m_client) {
        m_client->requestStop();
        while (!m_client->finished())
            platform::serveMainThreadFor(10);
        m_client.reset();
    }
    if (m_outbox)
        m_outbox->commit();
}

} // namespace app
