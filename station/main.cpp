// Test_QBX_FPGA BSDL VECTORS OUTPUT: the QBX board test station.
#include "platform.h"
#include "test_station.h"

int main(int argc, char** argv)
{
    platform::UseBinaryStdio();
    CTestStation station(stdin);
    return station.Run(argc, argv);
}
