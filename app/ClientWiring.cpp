// app/ClientWiring.cpp: how the shipped program creates its message-server client.
#include "app/Gateway.h"

namespace app {

GatewayOptions shippedGatewayOptions()
{
    GatewayOptions options;
    // TODO: create the message-server client here once it exists; until then position
    // messages are counted by the gateway and go nowhere.
    return options;
}

} // namespace app
