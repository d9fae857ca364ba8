#include <gtest/gtest.h>

#include "serial/serial_port.h"

namespace {

TEST(WindowsPortName, BareComNamesGoThroughTheDeviceNamespace) {
    EXPECT_EQ("\\\\.\\COM1", systemPortPath("COM1"));
    EXPECT_EQ("\\\\.\\COM9", systemPortPath("COM9"));
    EXPECT_EQ("\\\\.\\COM10", systemPortPath("COM10"));
    EXPECT_EQ("\\\\.\\COM256", systemPortPath("COM256"));
    EXPECT_EQ("\\\\.\\com3", systemPortPath("com3"));
}

TEST(WindowsPortName, EveryOtherNameIsLeftAlone) {
    EXPECT_EQ("\\\\.\\COM12", systemPortPath("\\\\.\\COM12"));
    EXPECT_EQ("COM", systemPortPath("COM"));
    EXPECT_EQ("COM1:", systemPortPath("COM1:"));
    EXPECT_EQ("COMX", systemPortPath("COMX"));
    EXPECT_EQ("COM 1", systemPortPath("COM 1"));
    EXPECT_EQ("XCOM1", systemPortPath("XCOM1"));
    EXPECT_EQ("LPT1", systemPortPath("LPT1"));
    EXPECT_EQ("", systemPortPath(""));
    EXPECT_EQ("C:\\ports\\COM1", systemPortPath("C:\\ports\\COM1"));
}

}  // namespace
