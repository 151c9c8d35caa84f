#include "serial/serial_port.h"

#include <gtest/gtest.h>

namespace orvane {
namespace {

TEST(ParseSettingsTest, ReadsTheFourValuesOrNothing) {
    struct Case {
        const char* text;
        bool ok;
        std::uint32_t baud;
        std::uint8_t parity, size, stop;
    };
    // Failing cases expect the untouched sentinel below.
    const Case cases[] = {
        {"baud=9600 parity=N data=8 stop=1", true, 9600, NOPARITY, 8, ONESTOPBIT},
        {"baud=115200 parity=e data=7 stop=2", true, 115200, EVENPARITY, 7, TWOSTOPBITS},
        {"baud=4800 parity=o data=5 stop=1.5", true, 4800, ODDPARITY, 5, ONE5STOPBITS},
        {"baud=19200 parity=Mark data=6 stop=1", true, 19200, MARKPARITY, 6, ONESTOPBIT},
        {"baud=19200 parity=s data=8 stop=2", true, 19200, SPACEPARITY, 8, TWOSTOPBITS},
        {"baud=57600  parity=n  data=8  stop=1 ", true, 57600, NOPARITY, 8, ONESTOPBIT},
        // Unreadable values leave the defaults 9600, none, 8, one.
        {"baud=fast parity=X data=many stop=3", true, 9600, NOPARITY, 8, ONESTOPBIT},
        {"baud=-5 parity=E data=300 stop=1.50", true, 9600, EVENPARITY, 8, ONESTOPBIT},
        // Not exactly four values.
        {"baud=9600 parity=N data=8", false, 1, 9, 9, 9},
        {"baud=9600 parity=N data=8 stop=1 extra=1", false, 1, 9, 9, 9},
        {"baud=9600 parity=  data=8 stop=1", false, 1, 9, 9, 9}, // empty value does not count
        {"baud 9600 parity N data 8 stop 1", false, 1, 9, 9, 9},
        {"", false, 1, 9, 9, 9},
    };
    for (const auto& c : cases) {
        LineSettings s;
        s.BaudRate = 1;
        s.Parity = 9;
        s.ByteSize = 9;
        s.StopBits = 9;
        s.fRtsControl = RTS_CONTROL_ENABLE;
        EXPECT_EQ(CSerialPort::ParseSettings(c.text, s), c.ok) << c.text;
        EXPECT_EQ(s.BaudRate, c.baud) << c.text;
        EXPECT_EQ(s.Parity, c.parity) << c.text;
        EXPECT_EQ(s.ByteSize, c.size) << c.text;
        EXPECT_EQ(s.StopBits, c.stop) << c.text;
        EXPECT_EQ(s.fRtsControl, RTS_CONTROL_ENABLE) << c.text; // other fields untouched
    }
}

} // namespace
} // namespace orvane
