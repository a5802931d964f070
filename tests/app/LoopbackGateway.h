// tests/app/LoopbackGateway.h: the whole gateway for loopback tests, waiting briefly everywhere
// so that a test is not held up by the shipped waits, with a real link client.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "app/Gateway.h"
#include "link/LinkClient.h"

namespace fakes {

// Works in dir, listening and calibrating with short waits; the client takes these options with
// dir as its working directory. The test may change the rest before it builds the gateway.
inline app::GatewayOptions loopbackGatewayOptions(const std::string& dir,
                                                  msglink::ClientOptions client = {})
{
    app::GatewayOptions options;
    options.calibration = std::chrono::milliseconds(10);
    options.workingDirectory = dir;
    options.listener.receiveWaitMs = 20;
    options.listener.acceptWaitMs = 20;
    client.workingDirectory = dir;
    options.makeClient = [client](msglink::LinkView& view, msglink::Outbox& outbox,
                                  const app::Settings& settings) {
        return std::make_unique<msglink::LinkClient>(view, outbox, settings.main.firstNumber,
                                                     client);
    };
    return options;
}

// A gateway made of the options and started.
inline std::unique_ptr<app::Gateway> startedGateway(app::StatusView& view,
                                                    const app::GatewayOptions& options)
{
    auto gateway = std::make_unique<app::Gateway>(view, options);
    gateway->start();
    return gateway;
}

} // namespace fakes
