// app/main.cpp: gpsbridge entry point.
// For now the gateway runs its tracker intake: the listener on port 21000 in the working
// directory, with the day log beside it, until SIGINT or SIGTERM.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <thread>

#include "platform/DayLog.h"
#include "platform/Files.h"
#include "platform/Socket.h"
#include "platform/TickClock.h"
#include "tracker/tserv.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

void onSignal(int) { g_stop = 1; }

constexpr const char* kVersion = "8.17.5.26";

} // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("gpsbridge %s\n", kVersion);
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0) {
            std::printf("usage: gpsbridge [--help] [--version]\n"
                        "Accepts GPS trackers on TCP port 21000; logs to <dd.MM.yyyy>.log in the\n"
                        "working directory. Stops on SIGINT or SIGTERM.\n");
            return 0;
        }
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    platform::raiseOpenFileLimit();

    std::int64_t ticksPerMs = platform::calibrateTicksPerMs(platform::steadyClock());
    platform::DayLog dayLog(platform::currentDirectory());
    tracker::tserv listener(dayLog);
    listener.setPort(21000);
    listener.setTicksPerMs(ticksPerMs);
    listener.start();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::printf("%s port %u\n", listener.listening() ? "listening on" : "cannot open",
                static_cast<unsigned>(21000));
    std::fflush(stdout);

    while (!g_stop)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    listener.stop();
    return 0;
}
