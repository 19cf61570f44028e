// The board model's scans as the adapter sees them, against a recording stand-in for usbwire: the
// chain order, what one vector drives, what a captured image turns into, and how a failed transfer
// ends a scan.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "error_report.h"
#include "qbx_zor.h"
#include "sim_board.h"
#include "usbwire_spy.h"

using qbxtest::UsbwireCall;
using qbxtest::UsbwireSpy;
using ::testing::ElementsAre;

namespace {

// Cells of the test-support BSDL (see qbx_zor_test.cpp): A12 = IO_11 (33 in, 34 out, 35 control),
// B5 = IO_36 (108 in).
constexpr int kA12Out = 34, kA12Ctrl = 35;
constexpr int kB5In = 108;

int Bit(const uint8_t* bytes, int cell)
{
    return (bytes[cell / 8] >> (cell % 8)) & 1;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class BoardCalls : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string bsdl = qbxtest::WriteFallbackBsdl(m_Dir.Path());
        ASSERT_EQ(m_Board.LoadBsdl(bsdl.c_str()), 1);
        const std::string vectors = m_Dir.File("test.vec");
        // FPGA 0 drives A12 with 0 1 0 1; FPGA 6 expects B5 to read 1 0 1 0.
        std::ofstream(vectors, std::ios::binary) << "<NET>\r\nDRIVE:\r\n0-A12 0101\r\nSENSOR:\r\n6-B5 1010\r\n</NET>\r\n";
        ASSERT_EQ(m_Board.Load(vectors.c_str()), 1);
        m_Errors = m_Dir.File("error.txt");
        OpenErrorFile(m_Errors.c_str());
        m_Handle = m_Spy.JtagHandle();
        m_Board.AttachChain(m_Handle, 1);
        g_BoardFail = 0;
    }
    void TearDown() override { CloseErrorFile(); }

    std::vector<const UsbwireCall*> Outs() const
    {
        std::vector<const UsbwireCall*> outs;
        for (const UsbwireCall& call : m_Spy.calls)
            if (call.function == "JTAG_Out")
                outs.push_back(&call);
        return outs;
    }

    qbxtest::TempDir m_Dir;
    UsbwireSpy m_Spy;
    void* m_Handle = nullptr;
    std::string m_Errors;
    CQbx_zor m_Board;
};

TEST_F(BoardCalls, TheChainRunsFromFpgaSevenToFpgaZeroThroughTheHandleVariable)
{
    ASSERT_EQ(m_Board.m_Chain.first, &m_Board.m_Fpga[7]);
    const CJtagStream* device = m_Board.m_Chain.first;
    for (int k = 7; k >= 0; --k, device = device->m_Next)
        ASSERT_EQ(device, &m_Board.m_Fpga[static_cast<size_t>(k)]);
    EXPECT_EQ(device, nullptr);
    for (const CProAsic3& fpga : m_Board.m_Fpga) {
        EXPECT_EQ(fpga.m_Instruction, CProAsic3::kBypass);
        EXPECT_EQ(fpga.m_Length, 1u);
    }

    // The model reads the variable at every scan: without a channel nothing reaches the adapter.
    m_Handle = nullptr;
    EXPECT_FALSE(m_Board.ScanChain());
    EXPECT_TRUE(m_Spy.calls.empty());
    m_Handle = m_Spy.JtagHandle();
    EXPECT_TRUE(m_Board.ScanChain());
    ASSERT_FALSE(m_Spy.calls.empty());
    EXPECT_EQ(m_Spy.calls[0].Text(), "JTAG_Addr 1");
    EXPECT_EQ(m_Spy.calls[0].handle, m_Spy.JtagHandle());
}

TEST_F(BoardCalls, OneVectorIsPreloadedThenDrivenWithExtest)
{
    // The chain answers every capture with zeros, so B5 reads 0 where the vector expects 1.
    EXPECT_EQ(m_Board.DriveVector(1), CQbx_zor::VECTOR_PASSED);  // vector 1 expects B5 = 0
    const auto outs = Outs();
    // Two scans, each eight 8-bit instructions, then 8 captures and 8 updates of 2424 bits.
    ASSERT_EQ(outs.size(), 2u * (8 + 16));
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(outs[static_cast<size_t>(i)]->data, std::vector<uint8_t>{CProAsic3::kSamplePreload});
        EXPECT_EQ(outs[static_cast<size_t>(24 + i)]->data, std::vector<uint8_t>{CProAsic3::kExtest});
    }
    for (size_t i = 8; i < 24; ++i)
        EXPECT_EQ(outs[i]->args[1], 2424);
    // The update pass of the preload carries vector 1 whole; the last device of the list is FPGA 0.
    const UsbwireCall& preload = *outs[8 + 8 + 7];
    EXPECT_EQ(preload.data.size(), 303u);
    EXPECT_EQ(Bit(preload.data.data(), kA12Out), 1);
    EXPECT_EQ(Bit(preload.data.data(), kA12Ctrl), 1);
    EXPECT_EQ(preload.args[2], 1);  // exit on the last device
    // EXTEST drives the output and control cells and sends the other cells back as captured.
    const UsbwireCall& extest = *outs[24 + 8 + 8 + 7];
    EXPECT_EQ(Bit(extest.data.data(), kA12Out), 1);
    EXPECT_EQ(Bit(extest.data.data(), kA12Ctrl), 1);
    EXPECT_EQ(ReadFile(m_Errors), "");

    // Vector 0 expects B5 = 1: the zero captured by FPGA 6 is reported.
    EXPECT_EQ(m_Board.DriveVector(0), CQbx_zor::VECTOR_WRONG);
    EXPECT_EQ(ReadFile(m_Errors), "Vector 1 (abs=0) NET ERROR fpga 6 pin:IO_36 (B5) read=0 expected=1\r\n");
    // After the scans every model is back in BYPASS.
    for (const CProAsic3& fpga : m_Board.m_Fpga)
        EXPECT_EQ(fpga.m_Instruction, CProAsic3::kBypass);
}

TEST_F(BoardCalls, WhatTheInputCellsCaptureLandsInTheImages)
{
    // FPGA 6 is the second device of the list: its capture is the second 2424-bit read of a scan.
    int captures = 0;
    m_Spy.jtagOut = [&](int, unsigned count, const uint8_t*, uint8_t* destination, int) {
        if (destination != nullptr) {
            std::memset(destination, 0, (count - 1) / 8 + 1);
            if (count == 2424 && captures++ % 8 == 1)
                destination[kB5In / 8] |= static_cast<uint8_t>(1u << (kB5In % 8));
        }
        return 1;
    };
    EXPECT_EQ(m_Board.DriveVector(0), CQbx_zor::VECTOR_PASSED);
    EXPECT_EQ(Bit(m_Board.m_Fpga[6].m_Bsr.data(), kB5In), 1);
    EXPECT_EQ(m_Board.DriveVector(1), CQbx_zor::VECTOR_WRONG);
    EXPECT_EQ(ReadFile(m_Errors), "Vector 2 (abs=1) NET ERROR fpga 6 pin:IO_36 (B5) read=1 expected=0\r\n");
}

TEST_F(BoardCalls, AFailedTransferEndsTheScanWithATapResetAndNothingIsCompared)
{
    // Every capture reads all ones; the first update shift of the EXTEST scan fails (the link died
    // after the preload scan's eight updates).
    int updates = 0;
    m_Spy.jtagOut = [&](int, unsigned count, const uint8_t* source, uint8_t* destination, int) {
        if (destination != nullptr)
            std::memset(destination, 0xFF, (count - 1) / 8 + 1);
        if (source != nullptr && count == 2424 && ++updates == 9)
            return 0;
        return 1;
    };
    EXPECT_EQ(m_Board.DriveVector(0), CQbx_zor::VECTOR_TRANSFER_FAILED);
    const std::vector<std::string> texts = m_Spy.Texts();
    ASSERT_GE(texts.size(), 3u);
    // No Update-DR: every TAP goes to Test-Logic-Reset instead.
    const std::vector<std::string> tail(texts.end() - 3, texts.end());
    EXPECT_THAT(tail, ElementsAre("JTAG_Out 0 2424 0", "JTAG_Addr 1", "JTAG_Tms 255 5"));
    // What came back was not taken into the images (it would have set every input cell of FPGA 7,
    // the device whose update failed), nothing was compared or reported, and the models are back in
    // BYPASS.
    for (const CProAsic3& fpga : m_Board.m_Fpga) {
        EXPECT_EQ(fpga.m_Bsr, fpga.m_Vectors[0].image);
        EXPECT_EQ(fpga.m_Instruction, CProAsic3::kBypass);
    }
    EXPECT_EQ(ReadFile(m_Errors), "");
}

TEST_F(BoardCalls, AnInstructionScanStopsAtItsFirstFailedShift)
{
    int outs = 0;
    m_Spy.jtagOut = [&](int, unsigned, const uint8_t*, uint8_t*, int) { return ++outs == 3 ? 0 : 1; };
    EXPECT_FALSE(ScanIR(m_Board.m_Chain));
    EXPECT_THAT(m_Spy.Texts(), ElementsAre("JTAG_Addr 1", "JTAG_Tms 6 5", "JTAG_Out 0 8 0", "JTAG_Out 0 8 0",
                                           "JTAG_Out 0 8 0", "JTAG_Addr 1", "JTAG_Tms 255 5"));
    m_Spy.calls.clear();
    EXPECT_TRUE(ScanIR(m_Board.m_Chain));
    EXPECT_EQ(m_Spy.Count("JTAG_Out"), 8u);
    EXPECT_EQ(m_Spy.calls.back().Text(), "JTAG_Tms 1 2");
}

TEST_F(BoardCalls, AFailedUpdateShiftEndsTheDataScan)
{
    m_Spy.jtagOut = [](int, unsigned, const uint8_t* source, uint8_t*, int) { return source == nullptr ? 1 : 0; };
    EXPECT_FALSE(ScanDR(m_Board.m_Chain));
    // Eight captures, the first update shift fails, reset.
    EXPECT_EQ(m_Spy.Count("JTAG_Out"), 9u);
    EXPECT_EQ(m_Spy.calls.back().Text(), "JTAG_Tms 255 5");
}

TEST_F(BoardCalls, TheFirstVectorIsNotAppliedWithoutTheJtagSwitch)
{
    // Without converters the switch cannot be turned on: nothing is driven.
    EXPECT_EQ(m_Board.ApplyFirstVector(), 0);
    EXPECT_EQ(m_Spy.Count("JTAG_Out"), 0u);
    EXPECT_EQ(ReadFile(m_Errors), "JtagSwitch ERROR\r\n");
}

}  // namespace
