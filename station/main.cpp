// Test_QBX_FPGA BSDL VECTORS OUTPUT: the QBX board test station.
#include "test_station.h"

int main(int argc, char** argv)
{
    CTestStation station(stdin);
    return station.Run(argc, argv);
}
