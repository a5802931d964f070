// tools/msgserver/main.cpp: msgserver, a test message server for the gateway's link.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/StopSignal.h"
#include "tools/msgserver/MessageServer.h"

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    msgserver::ServerOptionsResult parsed = msgserver::parseServerOptions(args);
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "msgserver: %s\n\n%s", parsed.error.c_str(),
                     msgserver::serverUsage().c_str());
        return 2;
    }
    const msgserver::ServerOptions& options = parsed.options;
    if (options.help) {
        std::fputs(msgserver::serverUsage().c_str(), stdout);
        return 0;
    }

    msgserver::MessageServer::Output output;
    output.message = [](const std::string& text) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    };
    if (!options.quiet)
        output.event = [](const std::string& line) {
            std::fprintf(stderr, "msgserver: %s\n", line.c_str());
        };

    platform::installStopSignals();
    msgserver::MessageServer server(options, output);
    if (!server.listen()) {
        std::fprintf(stderr, "msgserver: cannot listen on %s:%u\n", options.bind.c_str(),
                     options.port);
        return 1;
    }
    if (!options.portFile.empty() && !msgserver::writePortFile(options.portFile, server.port())) {
        std::fprintf(stderr, "msgserver: cannot write %s\n", options.portFile.c_str());
        return 1;
    }
    if (!options.quiet)
        std::fprintf(stderr, "msgserver: listening on %s:%u\n", options.bind.c_str(),
                     server.port());
    server.run(platform::stopSignal());
    std::fputs(msgserver::countsText(server.counts()).c_str(), stderr);
    return 0;
}
