// app/main.cpp: gpsbridge entry point.
#include <QCoreApplication>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/Gateway.h"
#include "app/StatusView.h"
#include "platform/Desktop.h"
#include "platform/Socket.h"

namespace {

constexpr const char* kVersion = "8.17.5.26";

std::atomic<bool> g_stopSignal{false};

void onSignal(int) { g_stopSignal = true; }

void printHelp()
{
    std::printf(
        "usage: gpsbridge [--headless] [--help] [--version]\n"
        "\n"
        "Gateway between GPS trackers and the message server. Run it in its working\n"
        "directory: it reads gpsbridge.ini there and writes its day logs (dd.MM.yyyy.log)\n"
        "and its backlog (dd8/) beside it.\n"
        "\n"
        "  --headless  run without a window (also when no display is available); link\n"
        "              events are printed on standard output; SIGINT or SIGTERM stop it\n"
        "  --help      show this text\n"
        "  --version   show the version\n");
}

int runHeadless(int argc, char** argv)
{
    QCoreApplication qapp(argc, argv);
    app::StatusView view;
    view.onEventAppended = [](const std::string& line) {
        std::fputs((line + "\n").c_str(), stdout);
        std::fflush(stdout);
    };
    app::Gateway gateway(view, app::shippedGatewayOptions());
    gateway.start();
    std::fprintf(stderr, "gpsbridge: %s port %u\n",
                 gateway.listening() ? "listening on" : "cannot open tracker", view.port());

    QTimer timer2;
    QObject::connect(&timer2, &QTimer::timeout, [&] { gateway.Timer2Timer(); });
    timer2.start(10);

    QTimer signalWatch;
    QObject::connect(&signalWatch, &QTimer::timeout, [&] {
        if (!g_stopSignal)
            return;
        signalWatch.stop();
        timer2.stop();
        gateway.stop();
        qapp.quit();
    });
    signalWatch.start(20);
    return qapp.exec();
}

} // namespace

int main(int argc, char** argv)
{
    bool headless = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("gpsbridge %s\n", kVersion);
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0) {
            printHelp();
            return 0;
        }
        if (std::strcmp(argv[i], "--headless") == 0) {
            headless = true;
            continue;
        }
        std::fprintf(stderr, "gpsbridge: unknown option %s (see --help)\n", argv[i]);
        return 2;
    }
    struct sigaction sa{};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    platform::raiseOpenFileLimit();

    if (!headless) {
        if (!platform::displayAvailable())
            std::fprintf(stderr, "gpsbridge: no display available, running headless\n");
        else
            std::fprintf(stderr, "gpsbridge: the window is not available yet, running headless\n");
    }
    return runHeadless(argc, argv);
}
