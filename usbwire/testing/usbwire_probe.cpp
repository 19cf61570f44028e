// A small program on libusbwire.so for the tests of driver loading: opens the I2C and the JTAG
// channel named on the command line (twice each) and prints which opens succeeded, e.g.
// "I2C 1 1 JTAG 0 0". The environment (USBWIRE_DRIVER) is the caller's.
#include "usbwire.h"

#include <cstdio>

#include "platform.h"

int main(int argc, char** argv)
{
    platform::UseBinaryStdio();
    if (argc != 3) {
        std::fprintf(stderr, "usage: usbwire_probe <I2C description> <JTAG description>\n");
        return 2;
    }
    std::printf("I2C");
    for (int i = 0; i < 2; ++i) {
        void* handle = I2C_Open(argv[1], 100000);
        std::printf(" %d", handle != nullptr);
        I2C_Close(handle);
    }
    std::printf(" JTAG");
    for (int i = 0; i < 2; ++i) {
        void* handle = JTAG_Open(argv[2]);
        std::printf(" %d", handle != nullptr);
        JTAG_Close(handle);
    }
    std::printf("\n");
    return 0;
}
