// The main of every test program on Windows: binary standard streams, then GoogleTest.
#include <gtest/gtest.h>

#include "platform.h"

int main(int argc, char** argv)
{
    platform::UseBinaryStdio();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
