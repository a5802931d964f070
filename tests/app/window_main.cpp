// tests/app/window_main.cpp: the window tests run on the offscreen platform, no X server needed.
#include <QApplication>

#include "platform/Desktop.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    platform::QtMainThread mainThread;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
