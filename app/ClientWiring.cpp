// app/ClientWiring.cpp: the message-server client and its outbox as the shipped program runs them.
#include "app/Gateway.h"

#include "app/RepeatFilter.h"
#include "app/StartUp.h"

namespace app {

namespace {

// Notes (StartUp.h: standard error, or a service's log file), each named by its subsystem;
// the same line, repeated at every reconnect or retry, once a minute.
std::function<void(const std::string&)> diagnosticFor(const char* subsystem)
{
    auto filter = std::make_shared<RepeatFilter>(std::chrono::minutes(1));
    return [filter, subsystem](const std::string& line) {
        if (filter->pass(line, RepeatFilter::Clock::now()))
            note(std::string(subsystem) + ": " + line);
    };
}

} // namespace

msglink::ClientOptions shippedClientOptions(const std::string& workingDirectory)
{
    msglink::ClientOptions client;
    client.workingDirectory = workingDirectory;
    client.diagnostic = diagnosticFor("message server");
    return client;
}

GatewayOptions shippedGatewayOptions(const std::string& workingDirectory)
{
    GatewayOptions options;
    options.workingDirectory = workingDirectory;
    // A tracker hears its packet is taken only once the packet's messages are in the backlog's
    // files: a gateway killed at any moment has lost nothing it acknowledged.
    options.listener.ackWhenKept = true;
    options.outboxDiagnostic = diagnosticFor("backlog");
    options.makeClient = [workingDirectory](msglink::LinkView& view, msglink::Outbox& outbox,
                                            const Settings& settings) {
        msglink::ClientOptions client = shippedClientOptions(workingDirectory);
        client.packetSize = settings.server.packetSize;
        return std::make_unique<msglink::LinkClient>(view, outbox, settings.main.firstNumber,
                                                     std::move(client));
    };
    return options;
}

} // namespace app
