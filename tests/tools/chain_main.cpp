// tests/tools/chain_main.cpp: the chain test runs the gateway, which needs a main-thread loop.
#include "platform/MainLoop.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    platform::MainLoop mainThread;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
