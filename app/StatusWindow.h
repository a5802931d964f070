// app/StatusWindow.h: the main window: the status page, the tray icon, the dispatch timer and the
// password-protected close. Window's thread only.
#pragma once

#include <functional>
#include <memory>

#include <QWidget>

#include "app/Gateway.h"
#include "app/StatusView.h"
#include "app/CloseDialog.h"

class QLabel;
class QPlainTextEdit;
class QTimer;

namespace app {

class TrackerGrid;
class TrayIcon;

class StatusWindow final : public QWidget
{
public:
    // Tells, at each minimise, whether the desktop has a notification area to hide into.
    using TrayAvailable = std::function<bool()>;

    // Builds the window and runs the start-up sequence (startUp), which blocks for the tick
    // clock's calibration and the listener's settling time. The window is not shown yet.
    StatusWindow(GatewayOptions options, TrayAvailable trayAvailable, QWidget* parent = nullptr);
    ~StatusWindow() override;

    // The 10 ms dispatch timer's handler: one dispatch tick, then the grid if rows changed.
    void dispatchTick();

    // Hides the window and its taskbar entry; the tray icon stays.
    void hideToTray();
    // Shows the window again, normal and active.
    void restoreFromTray();

    // For log-off, shut-down and stop signals: the same orderly end as a confirmed close,
    // without asking. Returns once the client has stopped; then onEnded runs.
    void endWithoutAsking();
    bool ended() const { return m_state == State::Ended; }

    // Runs once when the program should end: the client has stopped and the window closed.
    std::function<void()> onEnded;

    const StatusView& view() const { return m_view; }
    Gateway& gateway() { return m_gateway; }
    CloseDialog& closeDialog() { return *m_closeDialog; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    enum class State
    {
        Running,
        Asking,
        Stopping,
        Ended
    };

    void startUp();
    // Every close request: asks for the password; only the right one lets the close go on.
    void confirmClose(QCloseEvent* event);

    void buildPageBar();
    void buildStatusPage();
    QLabel* addLabel(QWidget* page, const QString& text, int left, int top, int width = 0);
    void showStartUpValues();
    void showEvents();
    void showLinkState();
    void redrawLinkIndicator();
    void showWrongPassword();
    void stopGateway();

    StatusView m_view;
    Gateway m_gateway;
    TrayAvailable m_trayAvailable;
    std::unique_ptr<CloseDialog> m_closeDialog;
    State m_state = State::Running;

    QTimer* m_dispatchTimer = nullptr;
    TrayIcon* m_tray = nullptr;
    QLabel* m_startTime = nullptr;
    QLabel* m_password = nullptr;
    QLabel* m_indicator = nullptr;
    QLabel* m_server = nullptr;
    QLabel* m_port = nullptr;
    QPlainTextEdit* m_events = nullptr;
    TrackerGrid* m_grid = nullptr;
};

} // namespace app
