// tools/msgserver/main.cpp: msgserver, a test message server for the gateway's link.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/StopSignal.h"
#include "tools/common/Monotonic.h"
#include "tools/common/OptionReader.h"
#include "tools/msgserver/MessageServer.h"

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    msgserver::ServerOptionsResult parsed = msgserver::parseServerOptions(args);
    const msgserver::ServerOptions& options = parsed.options;
    if (auto status = tools::answerCommandLine("msgserver", parsed.error, options.help,
                                               options.version, msgserver::serverUsage()))
        return *status;

    msgserver::MessageServer::Output output;
    output.message = [stamp = options.stamp](const std::string& text) {
        std::optional<std::int64_t> at;
        if (stamp)
            at = tools::monotonicMicros();
        std::string line = msgserver::messageLine(text, at) + '\n';
        std::fwrite(line.data(), 1, line.size(), stdout);
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
