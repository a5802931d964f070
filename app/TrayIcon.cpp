// app/TrayIcon.cpp
#include "app/TrayIcon.h"

#include <QAction>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidget>

#include "app/AppIcon.h"

namespace app {

TrayIcon::TrayIcon(QWidget* window)
    : QObject(window), m_menu(new QMenu(window)),
      m_icon(new QSystemTrayIcon(applicationIcon(), this))
{
    m_restore = m_menu->addAction(QStringLiteral("Восстановить"));
    m_menu->addSeparator();
    m_close = m_menu->addAction(QStringLiteral("Закрыть"));
    setObjectName(QStringLiteral("TrayIcon"));
    m_menu->setObjectName(QStringLiteral("TrayMenu"));
    m_restore->setObjectName(QStringLiteral("TrayRestore"));
    m_close->setObjectName(QStringLiteral("TrayClose"));
    m_icon->setToolTip(QString::fromUtf8(kTrayHint));
    m_icon->setContextMenu(m_menu);
}

void TrayIcon::show()
{
    m_icon->show();
}

void TrayIcon::hide()
{
    m_icon->hide();
}

} // namespace app
