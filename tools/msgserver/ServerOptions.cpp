// tools/msgserver/ServerOptions.cpp
#include "tools/msgserver/ServerOptions.h"

#include "tools/common/OptionReader.h"

namespace msgserver {

namespace {

constexpr std::uint64_t kLargeCount = 1'000'000'000'000;

using Def = tools::OptionDef<ServerOptions>;

// An option "--<name> N" that sets an optional count.
Def countOption(std::string_view name, std::optional<std::uint64_t> ServerOptions::*field,
                std::uint64_t min = 0)
{
    return {name, false, [name, field, min](ServerOptions& o, const std::string& v) {
                std::uint64_t n = 0;
                std::string e = tools::readUnsigned(name, v, min, kLargeCount, &n);
                o.*field = n;
                return e;
            }};
}

Def eventOption(std::string_view name, std::optional<std::uint64_t> ServerEvents::*field)
{
    return {name, false, [name, field](ServerOptions& o, const std::string& v) {
                std::uint64_t n = 0;
                std::string e = tools::readUnsigned(name, v, 0, kLargeCount, &n);
                o.events.*field = n;
                return e;
            }};
}

Def flagOption(std::string_view name, bool ServerEvents::*field)
{
    return {name, true, [field](ServerOptions& o, const std::string&) {
                o.events.*field = true;
                return std::string();
            }};
}

std::vector<Def> definitions()
{
    return {
        {"bind", false,
         [](ServerOptions& o, const std::string& v) {
             o.bind = v;
             return v == "127.0.0.1" || v == "0.0.0.0"
                        ? ""
                        : "--bind: 127.0.0.1 (this machine only) or 0.0.0.0 (all addresses)";
         }},
        {"port", false,
         [](ServerOptions& o, const std::string& v) {
             return tools::readInto("port", v, 0, 65535, &o.port);
         }},
        flagOption("no-login", &ServerEvents::noLogin),
        flagOption("no-confirm", &ServerEvents::noConfirm),
        {"delay", false,
         [](ServerOptions& o, const std::string& v) {
             return tools::readInto("delay", v, 0, 600'000, &o.delayMs);
         }},
        {"echo-every", false,
         [](ServerOptions& o, const std::string& v) {
             return tools::readInto("echo-every", v, 1, kLargeCount, &o.events.echoEvery);
         }},
        eventOption("close-order-after", &ServerEvents::closeOrderAfter),
        eventOption("disconnect-after", &ServerEvents::disconnectAfter),
        eventOption("drop-after", &ServerEvents::dropAfter),
        eventOption("bad-markers-after", &ServerEvents::badMarkersAfter),
        countOption("count", &ServerOptions::count, 1),
        {"port-file", false,
         [](ServerOptions& o, const std::string& v) {
             o.portFile = v;
             return v.empty() ? "--port-file: needs a file name" : "";
         }},
        {"quiet", true,
         [](ServerOptions& o, const std::string&) {
             o.quiet = true;
             return "";
         }},
        {"stamp", true,
         [](ServerOptions& o, const std::string&) {
             o.stamp = true;
             return "";
         }},
    };
}

} // namespace

ServerOptionsResult parseServerOptions(const std::vector<std::string>& args)
{
    ServerOptionsResult r;
    std::vector<Def> all = definitions();
    for (auto& d : tools::standardDefinitions<ServerOptions>())
        all.push_back(std::move(d));
    r.error = tools::readOptions(all, args, r.options);
    return r;
}

std::string serverUsage()
{
    return R"(usage: msgserver [options]

A test message server for the gateway's link. It serves every gateway connection at
once, each on a thread of its own (as behind a balancer), answers every frame with
exactly one frame (login accepted to the module
identification, a delivery confirmation to every data message, a poll reply to
anything else) and prints the text of every data message as one line on standard
output. Connections, the first-number report of each login ("first number N on
connection C") and injected events are told on standard error. On SIGINT or
SIGTERM, or after --count data messages, it prints the counts (connections, frames,
logins, data messages, polls) on standard error and exits.

  --bind A                 127.0.0.1 (default) or 0.0.0.0
  --port P                 port to listen on, 0 for any free one (default 12543)
  --port-file FILE         write the port number there once listening
  --count N                exit after N data messages
  --stamp                  begin each message line with the time it arrived, in
                           microseconds on the machine's monotonic clock, and a blank
  --quiet                  nothing on standard error but the final counts
  -h, --help               show this text
  -V, --version            show the program's version

Server-side events ("after N" counts the data messages received before the frame
that gets the event; 0 means from the first frame on):
  --no-login               never accept the login (poll reply instead)
  --no-confirm             answer data messages with a poll reply
  --delay MS               wait before each reply
  --echo-every N           answer every Nth frame with an echo request
  --close-order-after N    answer with a close order once
  --disconnect-after N     answer with the disconnect command once
  --drop-after N           close the connection without a reply once
  --bad-markers-after N    end marker 0xFD instead of 0xFE on every reply from then on
)";
}

} // namespace msgserver
