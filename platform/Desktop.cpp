// platform/Desktop.cpp
#include "platform/Desktop.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QThread>
#include <QTimer>

#include <cstdlib>

namespace platform {

QtMainThread::QtMainThread()
{
    m_previous = setMainThreadLoop(this);
}

QtMainThread::~QtMainThread()
{
    setMainThreadLoop(m_previous);
}

bool QtMainThread::isLoopThread() const
{
    QCoreApplication* app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

void QtMainThread::runAndWait(const std::function<void()>& work)
{
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [&work] { work(); }, Qt::BlockingQueuedConnection);
}

void QtMainThread::post(std::function<void()> work)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(work), Qt::QueuedConnection);
}

void QtMainThread::serveFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool displayAvailable()
{
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (wayland && *wayland);
}

} // namespace platform
