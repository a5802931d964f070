// app/ClientWiring.cpp: the message-server client as start-up creates and the stop ends it.
#include "app/Gateway.h"

#include "link/cl.h"

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

    bool SendText(const std::string& text) override { return m_client.SendText(text); }
    void sync() override { m_client.sync(); }
    std::string storeProblem() const override { return m_client.storeProblem(); }
    std::int64_t backlogDepth() const override { return m_client.backlogCount(); }
    double oldestWaitingSeconds() const override { return m_client.oldestWaitingSeconds(); }
    bool authorised() const override { return m_client.authorised(); }
    const msglink::LinkFigures* figures() const override { return &m_client.figures(); }
    void requestStop() override { m_client.requestStop(); }
    bool finished() const override { return m_client.finished(); }
    bool connected() const override { return m_client.connected(); }

private:
    msglink::cl m_client;
};

} // namespace

std::unique_ptr<LinkClient> makeMessageServerClient(msglink::LinkView& view,
                                                    std::int32_t gatewayNumber,
                                                    const msglink::ClientOptions& options)
{
    return std::make_unique<MessageServerClient>(view, gatewayNumber, options);
}

GatewayOptions shippedGatewayOptions()
{
    GatewayOptions options;
    options.makeClient = [](msglink::LinkView& view, std::int32_t gatewayNumber) {
        return makeMessageServerClient(view, gatewayNumber, {});
    };
    return options;
}

} // namespace app
