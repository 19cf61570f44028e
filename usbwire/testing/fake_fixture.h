// The fixture of the usbwire tests that link the library's code directly: usbwire loads the fake
// driver afresh for every test, and the tick count is a fake clock, so time-outs pass at once.
#pragma once

#include "d2xx_driver.h"
#include "fake_d2xx.h"
#include "platform.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

class FakeDriverTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("USBWIRE_DRIVER", "libd2xx-fake.so", 1);
        F.Reset();
        usbwire::ResetD2xxDriverForTesting();
    }
    void TearDown() override { usbwire::ResetD2xxDriverForTesting(); }

    // Milliseconds of fake time since the start of the test.
    uint32_t Elapsed() { return platform::TickCountMs() - m_Start; }

    fake::Driver& F = fake::Fake();
    platform::FakeClock clock{1};
    platform::ScopedClock installed{clock};

private:
    uint32_t m_Start = platform::TickCountMs();
};

// The set-up of a channel as written: synchronisation, the four opcodes, the pin write, divisor.
inline std::vector<uint8_t> SetupBytes(uint8_t pinValue, uint8_t pinDirection, uint16_t divisor)
{
    return {0xAA, 0xAB, 0x8A, 0x97, 0x8D, 0x85, 0x80, pinValue, pinDirection, 0x82, 0x00, 0x00,
            0x86, static_cast<uint8_t>(divisor & 0xFF), static_cast<uint8_t>(divisor >> 8)};
}
