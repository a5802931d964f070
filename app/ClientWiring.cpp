// app/ClientWiring.cpp: the message-server client as start-up creates and the stop ends it.
#include "app/Gateway.h"

#include <cstdio>

#include "app/RepeatFilter.h"
#include "link/LinkClient.h"

namespace app {

namespace {

class MessageServerClient final : public LinkClient
{
public:
    MessageServerClient(msglink::LinkView& view, std::int32_t gatewayNumber,
                        msglink::ClientOptions options)
        : m_client(view, gatewayNumber, std::move(options))
    {
    }

    bool storeMessage(const std::string& text) override { return m_client.storeMessage(text); }
    void sync() override { m_client.sync(); }
    std::string storeProblem() const override { return m_client.storeProblem(); }
    bool waitStoreAttempt(std::chrono::milliseconds limit) const override
    {
        return m_client.waitStoreAttempt(limit);
    }
    std::int64_t backlogDepth() const override { return m_client.backlogCount(); }
    double oldestWaitingSeconds() const override { return m_client.oldestWaitingSeconds(); }
    bool authorised() const override { return m_client.authorised(); }
    const msglink::LinkFigures* figures() const override { return &m_client.figures(); }
    void requestStop() override { m_client.requestStop(); }
    bool finished() const override { return m_client.finished(); }
    bool connected() const override { return m_client.connected(); }
    std::uint64_t turns() const override { return m_client.turns(); }

private:
    msglink::LinkClient m_client;
};

} // namespace

std::unique_ptr<LinkClient> makeMessageServerClient(msglink::LinkView& view,
                                                    std::int32_t gatewayNumber,
                                                    const msglink::ClientOptions& options)
{
    return std::make_unique<MessageServerClient>(view, gatewayNumber, options);
}

msglink::ClientOptions shippedClientOptions(const std::string& workingDirectory)
{
    msglink::ClientOptions client;
    client.workingDirectory = workingDirectory;
    // Why the link cannot be had goes to standard error (the journal under systemd); the same
    // reason, repeated at every reconnect, once a minute.
    auto filter = std::make_shared<RepeatFilter>(std::chrono::minutes(1));
    client.diagnostic = [filter](const std::string& why) {
        if (filter->pass(why, RepeatFilter::Clock::now()))
            std::fprintf(stderr, "gpsbridge: message server: %s\n", why.c_str());
    };
    return client;
}

GatewayOptions shippedGatewayOptions(const std::string& workingDirectory)
{
    GatewayOptions options;
    options.workingDirectory = workingDirectory;
    // A tracker hears its packet is taken only once the packet's messages are in the backlog's
    // files: a gateway killed at any moment has lost nothing it acknowledged.
    options.listener.ackWhenKept = true;
    options.makeClient = [workingDirectory](msglink::LinkView& view, std::int32_t gatewayNumber) {
        msglink::ClientOptions client = shippedClientOptions(workingDirectory);
        return makeMessageServerClient(view, gatewayNumber, std::move(client));
    };
    return options;
}

} // namespace app
