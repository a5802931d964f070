// app/main.cpp: gpsbridge entry point.
#include <QApplication>
#include <QCoreApplication>
#include <QSessionManager>
#include <QSystemTrayIcon>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <string>

#include "app/Gateway.h"
#include "app/StatusView.h"
#include "app/TForm1.h"
#include "link/FrameFormat.h"
#include "platform/Desktop.h"
#include "platform/Socket.h"
#include "platform/StopSignal.h"

namespace {

void printHelp()
{
    std::printf("usage: gpsbridge [--headless] [--help] [--version]\n"
                "\n"
                "Gateway between GPS trackers and the message server. Run it in its working\n"
                "directory: it reads gpsbridge.ini there and writes its day logs (dd.MM.yyyy.log)\n"
                "and its backlog (dd8/) beside it.\n"
                "\n"
                "  --headless  run without a window (also when no display is available); link\n"
                "              events are printed on standard output; SIGINT or SIGTERM stop it\n"
                "  --help      show this text\n"
                "  --version   show the version\n"
                "\n"
                "With a display it shows the status window, which minimises to the tray and\n"
                "closes only with the password it shows; SIGINT, SIGTERM and the end of the\n"
                "desktop session stop it without asking.\n");
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
        if (!platform::stopSignal())
            return;
        signalWatch.stop();
        timer2.stop();
        gateway.stop();
        qapp.quit();
    });
    signalWatch.start(20);
    return qapp.exec();
}

int runWindow(int argc, char** argv)
{
    QApplication qapp(argc, argv);
    // The window lives on in the tray: closing the dialog or hiding the window ends nothing.
    QApplication::setQuitOnLastWindowClosed(false);
    app::TForm1 form(app::shippedGatewayOptions(), &QSystemTrayIcon::isSystemTrayAvailable);
    form.onEnded = [] { QCoreApplication::quit(); };

    // Log-off and shut-down end the gateway like a confirmed close, without asking.
    QObject::connect(&qapp, &QGuiApplication::commitDataRequest, &form,
                     [&form](QSessionManager&) { form.endWithoutAsking(); });
    QTimer signalWatch;
    QObject::connect(&signalWatch, &QTimer::timeout, [&] {
        if (!platform::stopSignal())
            return;
        signalWatch.stop();
        form.endWithoutAsking();
    });
    signalWatch.start(20);

    form.show();
    return qapp.exec();
}

} // namespace

int main(int argc, char** argv)
{
    bool headless = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("gpsbridge %.*s\n", static_cast<int>(msglink::kFileVersion.size()),
                        msglink::kFileVersion.data());
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
    platform::installStopSignals();
    platform::raiseOpenFileLimit();

    if (!headless) {
        if (platform::displayAvailable())
            return runWindow(argc, argv);
        std::fprintf(stderr, "gpsbridge: no display available, running headless\n");
    }
    return runHeadless(argc, argv);
}
