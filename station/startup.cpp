// Start-up and end of the station: command line, BSDL and vector files, error file, truth table,
// the two adapter channels; at the end the board is disabled and the channels are closed.
#include <cstdio>

#include "error_report.h"
#include "i2c_channel.h"
#include "jtag_chain.h"
#include "platform.h"
#include "test_station.h"
#include "usbwire.h"

namespace {

const char* const kUsage = "USE: Test_QBX_FPGA <bsd file> <vectors file> <ouptut path>\r\n";

// Why a file named on the console could not be used, on a line after the message; nothing when
// there is no reason to add (a file that does not exist is "not found").
void PrintReason(const char* path, const std::string& why)
{
    if (!why.empty())
        std::printf("%s: %s\r\n", path, why.c_str());
}

}  // namespace

CTestStation::CTestStation(std::FILE* in) : m_OneWire(m_I2CHandle, 0), m_Input(in, stdout)
{
    m_TempCandidates.reserve(static_cast<size_t>(kBoard.thermometerRoom));
    m_AdcCandidates.reserve(static_cast<size_t>(kBoard.converterRoom));
}

CTestStation::~CTestStation()
{
    // Normally End has closed both; a handle still held (an early return) is closed here.
    CloseI2CChannel(m_I2CHandle);
    CloseJtag(m_JtagHandle);
}

int CTestStation::Run(int argc, char** argv)
{
    const int status = Start(argc, argv);
    if (status >= 0)
        return status;
    while (TestBoard()) {
    }
    End();
    return 0;
}

int CTestStation::Start(int argc, char** argv)
{
    // The program needs no application framework on Linux: there is no initialisation that could
    // fail, so the "Fatal Error: MFC initialization failed" exit cannot happen here.

    if (argc < 4) {
        std::printf("%s", kUsage);
        return 0;
    }
    const char* bsdlPath = argv[1];
    const char* vectorsPath = argv[2];
    // An empty output folder would put the result files into the root folder.
    if (argv[3][0] == '\0') {
        std::printf("%s", kUsage);
        std::printf("Output folder: the argument is empty\r\n");
        return 1;
    }

    std::string why;
    if (!m_Board.LoadBsdl(bsdlPath, &why)) {
        std::printf("bsd file %s not found\r\n", bsdlPath);
        PrintReason(bsdlPath, why);
        return 1;
    }
    // A file of another layout reads without error but without what the test needs: say which
    // sections were not found.
    for (const std::string& section : MissingSectionNames(m_Board.m_Fpga[0].m_Bsdl.missingSections))
        std::printf("Warning bsd file %s: %s not found\r\n", bsdlPath, section.c_str());

    const int loaded = m_Board.Load(vectorsPath);
    for (const CBsrVectors::Warning& warning : m_Board.m_Warnings)
        std::printf("Warning vectors file %s line %zu: %s\r\n", vectorsPath, warning.line, warning.text.c_str());
    // A file that binds no sensed pin would pass every board: it is refused like one that cannot
    // be read.
    const std::string problem = loaded ? m_Board.VectorsProblem() : m_Board.m_LoadError;
    if (!loaded || !problem.empty()) {
        std::printf("vectors file %s not found\r\n", vectorsPath);
        PrintReason(vectorsPath, problem);
        return 1;
    }
    std::printf("vectors=%s\r\n", m_Board.m_VectorsDigest.c_str());

    // The output folder must take the result files before any board is tested, and serves one
    // station at a time.
    m_OutputFolder = platform::StripTrailingSeparators(argv[3]);
    if (!m_FolderLock.Acquire(m_OutputFolder, why)) {
        std::printf("Output folder %s: %s\r\n", m_OutputFolder.c_str(), why.c_str());
        return 1;
    }
    m_ErrorFilePath = platform::JoinPath(m_OutputFolder, "error.txt");
    std::printf("Output Error on %s file\r\n", m_ErrorFilePath.c_str());
    std::fflush(stdout);
    if (!OpenErrorFile(m_ErrorFilePath.c_str()))
        return 1;

    m_TruthTablePath = platform::JoinPath(m_OutputFolder, "truetable.txt");
    if (m_Board.WriteTruthTable(m_TruthTablePath, &why)) {
        std::printf("Vectors TruTable on %s file\r\n", m_TruthTablePath.c_str());
    } else {
        std::printf("Error writing Vectors TruTable on %s file\r\n", m_TruthTablePath.c_str());
        PrintReason(m_TruthTablePath.c_str(), why);
    }
    std::fflush(stdout);
    m_Records.Start(*this, bsdlPath, vectorsPath);

    if (!OpenJtag(m_JtagHandle))
        return 0;
    // Only the board model at chain address 1 is built: the station tests that board alone.
    m_Board.AttachChain(m_JtagHandle, kBoard.chainAddress);

    if (OpenI2CChannel(m_I2CHandle) != 0) {
        CloseJtag(m_JtagHandle);
        return 0;
    }
    // Takes effect with the next write of the line.
    I2C_GPIODirection(m_I2CHandle, kBoard.enablePin, 1);
    return -1;
}

void CTestStation::End()
{
    ClearProgress();
    I2C_GPIOWrite(m_I2CHandle, kBoard.enablePin, 0);
    CloseI2CChannel(m_I2CHandle);
    CloseJtag(m_JtagHandle);
    std::fflush(stdout);
}
