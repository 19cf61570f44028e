// The fixture of the usbwire tests that link the library's code directly: usbwire loads the fake
// driver (once per process), every test starts it afresh, and the tick count is a fake clock, so
// time-outs pass at once.
#pragma once

#include "fake_d2xx.h"
#include "platform.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <cstdlib>

class FakeDriverTest : public ::testing::Test {
protected:
    FakeDriverTest()
    {
        setenv("USBWIRE_DRIVER", QBX_LIBRARY("d2xx-fake"), 1);
        F.Reset();
    }

    // Milliseconds of fake time since the start of the test.
    uint32_t Elapsed() { return platform::TickCountMs() - m_Start; }

    fake::Driver& F = fake::Fake();
    platform::FakeClock clock{1};
    platform::ScopedClock installed{clock};

private:
    uint32_t m_Start = platform::TickCountMs();
};
