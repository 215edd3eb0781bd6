#include "serial/LineSettings.h"
#include "serial/SerialPort.h"
#include "testsupport/PtyDevice.h"

#include <gtest/gtest.h>

#include <cstdint>

#include <fcntl.h>
#include <unistd.h>

namespace {

TEST(LineSettingsRate, DivisorOfTheClockMustComeWithinTwoPercent) {
    struct Case {
        std::uint32_t baudBase;
        std::uint32_t baud;
        bool made;
    };
    const Case cases[] = {
        // A 16550 on its usual 1.8432 MHz clock: 115200 / whole divisor.
        {115200, 31250, false},  // divisor 4: 28800, -7.8 %
        {115200, 100000, false}, // divisor 1: 115200, +15.2 %
        {115200, 112000, false}, // +2.9 %
        {115200, 56000, false},  // divisor 2: +2.9 %
        {115200, 113000, true},  // +1.9 %
        {115200, 5000, true},    // divisor 23: +0.2 %
        {115200, 1200, true},     {115200, 14400, true},   {115200, 57600, true},
        {115200, 115200, true},   {921600, 100000, false}, // divisor 9: +2.4 %
        {24000000, 31250, true},                           // a USB adapter's fast clock
        {24000000, 100000, true}, {0, 31250, true},        // no clock known
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.made, LineSettings::DivisorMakes(c.baudBase, c.baud))
            << c.baudBase << " for " << c.baud;
}

TEST(LineSettingsRate, ReadBackDecidesWhereTheDriverTellsNoDivisor) {
    PtyDevice dev(1);
    // A pseudo-terminal keeps any rate and has no TIOCGSERIAL: never a failed state change.
    for (DWORD baud : {31250u, 100000u, 14400u}) {
        CSerialPort port;
        EXPECT_EQ(TRUE, port.Open(1, baud, PARITY_NONE, DATABITS_8, STOPBITS_10)) << baud;
        EXPECT_TRUE(LineSettings::RateTaken(port.m_hPort, baud)) << baud;
        // A rate other than the one the line reads back is not taken.
        EXPECT_FALSE(LineSettings::RateTaken(port.m_hPort, baud * 2)) << baud;
    }
    const int fd = open("/dev/null", O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(LineSettings::RateTaken(fd, 19200));
    close(fd);
}

} // namespace
