// tests/app/main.cpp: the app tests run with a main-thread loop installed (no Qt).
#include "platform/MainLoop.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    platform::MainLoop mainThread;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
