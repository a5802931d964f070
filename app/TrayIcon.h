// app/TrayIcon.h: the notification-area icon with its hint and menu. Window's thread only.
#pragma once

#include <QObject>

class QAction;
class QMenu;
class QSystemTrayIcon;
class QWidget;

namespace app {

inline constexpr const char* kTrayHint = "Драйвер - Кестор03-4";

// A right click opens the menu ("Восстановить", separator, "Закрыть"); left and double clicks
// do nothing. The owner connects the two actions.
class TrayIcon final : public QObject
{
public:
    // window owns the icon and its menu.
    explicit TrayIcon(QWidget* window);

    // Shows the icon; where the desktop has no notification area yet, it appears once one does.
    void show();
    void hide();

    QAction* restoreAction() const { return m_restore; }
    QAction* closeAction() const { return m_close; }

private:
    QMenu* m_menu;
    QSystemTrayIcon* m_icon;
    QAction* m_restore = nullptr;
    QAction* m_close = nullptr;
};

} // namespace app
