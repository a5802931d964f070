// app/Gateway.h: the gateway as a whole: start-up, the dispatch timer's work and the orderly
// stop, shared by the window and the headless console. Lives on the main thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>

#include "app/ConfigCheck.h"
#include "app/GatewayFigures.h"
#include "app/MainThreadLinkView.h"
#include "app/Settings.h"
#include "app/StatusPage.h"
#include "app/StatusView.h"
#include "link/LinkClient.h"
#include "link/LinkControl.h"
#include "link/Outbox.h"
#include "platform/DayLog.h"
#include "platform/IniFile.h"
#include "tracker/Dispatcher.h"
#include "tracker/TrackerListener.h"

namespace app {

// Five digits from 10000 to 99998.
std::string makeClosePassword(std::mt19937& random);

struct GatewayOptions
{
    std::chrono::milliseconds calibration{1000}; // tick clock calibration window
    // Longest wait for the listener to try its port before the port state is shown; the wait
    // ends as soon as the port is open or has failed.
    std::chrono::milliseconds listenerSettle{2000};
    tracker::ListenerOptions listener;
    tracker::DispatchBudget dispatch;
    std::string workingDirectory; // empty: the process's current directory
    // The settings as read once at start; nothing: start-up reads gpsbridge.ini itself.
    std::optional<Settings> settings;
    // The backlog's files and pace, and where its troubles are told besides the event list.
    msglink::OutboxOptions outbox;
    msglink::Outbox::Diagnostic outboxDiagnostic;
    // Creates the message-server client once the status view, the settings and the outbox are in
    // place; the view it gets runs every operation on the main thread. Empty: no client; position
    // messages wait in the outbox (tests of the tracker side).
    std::function<std::unique_ptr<msglink::LinkControl>(
        msglink::LinkView& view, msglink::Outbox& outbox, const Settings& settings)>
        makeClient;
};

// The listener options with the tuning keys of [main] applied (IdentifyLimitMs, IdleWorkerMs).
tracker::ListenerOptions tunedListenerOptions(tracker::ListenerOptions options,
                                              const MainSettings& settings);

// The options the shipped program runs with: real waits and limits, and the real client, in
// workingDirectory (empty: the current directory).
GatewayOptions shippedGatewayOptions(const std::string& workingDirectory = {});

// The real client's options for that directory; why the link cannot be had goes to standard
// error.
msglink::ClientOptions shippedClientOptions(const std::string& workingDirectory);

class Gateway
{
public:
    // view must outlive the gateway. Nothing runs until start().
    Gateway(StatusView& view, GatewayOptions options = {});
    ~Gateway();

    // The start-up sequence; blocks for the calibration and the listener's settling time.
    void start();

    // The 10 ms dispatch timer's handler. True when the tracker grid needs repainting.
    bool dispatchTick();

    // Stops in order: trackers are no longer taken in, what they already delivered is
    // dispatched, then the client is stopped while the main thread keeps serving its
    // hand-overs. Main thread; returns when everything has ended.
    void stop();

    const std::string& workingDirectory() const { return m_workingDirectory; }
    const std::string& caption() const { return m_caption; }
    std::int32_t gatewayNumber() const { return m_settings.main.firstNumber; }
    const MainSettings& settings() const { return m_settings.main; }
    bool listening() const { return m_view.portState() == PortState::Listening; }
    tracker::TrackerListener& listener() { return *m_listener; }
    const tracker::TrackerTable& table() const { return m_dispatcher->table(); }
    msglink::LinkControl* client() { return m_client.get(); }
    // After start. Every outgoing message, from the dispatcher to the server.
    msglink::Outbox& outbox() { return *m_outbox; }
    // Main thread. The message-server link is up (the indicator's frame colour).
    bool linkConnected() const { return m_client && m_client->connected(); }

    // Main thread, after start. Empty while the backlog is open and writable; otherwise why
    // not (the gateway then acknowledges nothing, and tries the backlog again every second).
    std::string backlogProblem() const { return m_outbox ? m_outbox->problem() : std::string(); }

    // Main thread, after stop. Messages and packets that a failing backlog could not keep by
    // the stop; none of them was acknowledged to its tracker.
    std::size_t unkeptAtStop() const { return m_unkeptAtStop; }
    // Main thread. Dispatcher ticks so far; a count that stops moving means a stuck main thread.
    std::uint64_t dispatcherTicks() const { return m_dispatcherTicks; }

    // Any thread once started. A reading of the running figures.
    GatewayFigures figures() const;

    // Main thread, after start. What the window shows, for the status page; link as figures()
    // read it.
    StatusSnapshot statusSnapshot(LinkFigure link) const;

private:
    StatusView& m_view;
    MainThreadLinkView m_linkView{m_view};
    GatewayOptions m_options;
    std::string m_workingDirectory;
    Settings m_settings;
    std::string m_caption = kDefaultCaption;
    std::unique_ptr<platform::DayLog> m_dayLog;
    std::unique_ptr<tracker::TrackerListener> m_listener;
    std::unique_ptr<msglink::Outbox> m_outbox;
    std::unique_ptr<tracker::Dispatcher> m_dispatcher;
    std::unique_ptr<msglink::LinkControl> m_client;
    bool m_stopped = false;
    std::size_t m_unkeptAtStop = 0;
    std::uint64_t m_dispatcherTicks = 0;
};

} // namespace app
