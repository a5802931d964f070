// tools/msgserver/ServerOptions.h: the test message server's command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/msgserver/ReplyPolicy.h"

namespace msgserver {

struct ServerOptions
{
    std::string bind = "127.0.0.1"; // 127.0.0.1 or 0.0.0.0
    std::uint16_t port = 12543;     // 0: any free port
    int delayMs = 0;                // before each reply
    ServerEvents events;
    std::optional<std::uint64_t> count; // exit after this many data messages
    std::string portFile;               // empty: none
    bool stamp = false;                 // message lines begin with the monotonic time of arrival
    bool quiet = false;
    bool help = false;
    bool version = false;
    int waitSliceMs = 100; // how often a wait looks at the stop flag; no command-line option
};

struct ServerOptionsResult
{
    ServerOptions options;
    std::string error; // empty when the command line was fine
};

// Reads the command line (without the program name).
ServerOptionsResult parseServerOptions(const std::vector<std::string>& args);

std::string serverUsage();

} // namespace msgserver
