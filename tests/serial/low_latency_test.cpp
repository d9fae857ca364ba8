#include "serial/low_latency.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A driver that reports a flag (or refuses) and notes every change asked of it.
class DriverStandIn final : public serial::SerialDriver {
public:
    bool readLowLatency(int, bool& set) override {
        set = flag;
        return answers;
    }
    bool writeLowLatency(int, bool set) override {
        writes.push_back(set);
        if (answers) flag = set;
        return answers && takesWrites;
    }
    bool flag = false;
    bool answers = true;
    bool takesWrites = true;
    std::vector<bool> writes;
};

TEST(LowLatency, SetWhereTheDriverTakesItAndClearedAgainAtClose) {
    DriverStandIn driver;
    ASSERT_TRUE(serial::setLowLatency(3, driver));
    EXPECT_TRUE(driver.flag);
    serial::restoreLatency(3, driver);
    EXPECT_FALSE(driver.flag);
    EXPECT_EQ(driver.writes, (std::vector<bool>{true, false}));
}

TEST(LowLatency, AFlagAlreadySetIsLeftAsItWasAtClose) {
    DriverStandIn driver;
    driver.flag = true;
    EXPECT_FALSE(serial::setLowLatency(3, driver));
    EXPECT_TRUE(driver.writes.empty());
}

TEST(LowLatency, ADriverThatRefusesIsLeftAlone) {
    DriverStandIn refusing;
    refusing.answers = false;  // a pseudo-terminal: no serial settings at all
    EXPECT_FALSE(serial::setLowLatency(3, refusing));
    EXPECT_TRUE(refusing.writes.empty());

    DriverStandIn readOnly;
    readOnly.takesWrites = false;  // reads the settings, refuses the change
    EXPECT_FALSE(serial::setLowLatency(3, readOnly));
}

}  // namespace
