#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

#include "serial/line_settings_win32.h"

namespace {

// The flag word follows DCBlength and BaudRate.
DWORD flagWord(const DCB& dcb) {
    DWORD flags = 0;
    std::memcpy(&flags, reinterpret_cast<const unsigned char*>(&dcb) + 8, sizeof flags);
    return flags;
}

DCB filledWith(unsigned char byte) {
    DCB dcb;
    std::memset(&dcb, byte, sizeof dcb);
    return dcb;
}

TEST(LineSettings, FlagWordLowBitsAreSetAndTheRestKept) {
    for (const unsigned char fill : {0x00, 0xFF, 0xA5, 0x5A}) {
        DCB dcb = filledWith(fill);
        const DWORD before = flagWord(dcb);
        serial::applyLineSettings(dcb, 115200);
        EXPECT_EQ(0x1085u, flagWord(dcb) & 0x7FFFu) << int(fill);
        EXPECT_EQ(before & ~0x7FFFu, flagWord(dcb) & ~0x7FFFu) << int(fill);
        EXPECT_EQ(1u, dcb.fBinary);
        EXPECT_EQ(1u, dcb.fOutxCtsFlow);
        EXPECT_EQ(static_cast<DWORD>(DTR_CONTROL_DISABLE), dcb.fDtrControl);
        EXPECT_EQ(static_cast<DWORD>(RTS_CONTROL_ENABLE), dcb.fRtsControl);
    }
}

TEST(LineSettings, SizeRateFramingLimitsAndCharactersAreSetReservedWordsKept) {
    DCB dcb = filledWith(0xEE);
    serial::applyLineSettings(dcb, 57600);
    EXPECT_EQ(28u, dcb.DCBlength);
    EXPECT_EQ(57600u, dcb.BaudRate);
    EXPECT_EQ(100, dcb.XonLim);
    EXPECT_EQ(100, dcb.XoffLim);
    EXPECT_EQ(8, dcb.ByteSize);
    EXPECT_EQ(NOPARITY, dcb.Parity);
    EXPECT_EQ(ONESTOPBIT, dcb.StopBits);
    EXPECT_EQ('?', dcb.XonChar);
    EXPECT_EQ('?', dcb.XoffChar);
    EXPECT_EQ('?', dcb.ErrorChar);
    EXPECT_EQ(0, dcb.EofChar);
    EXPECT_EQ(0, dcb.EvtChar);
    // The reserved words stay as the driver gave them.
    EXPECT_EQ(0xEEEE, dcb.wReserved);
    EXPECT_EQ(0xEEEE, dcb.wReserved1);
}

}  // namespace
