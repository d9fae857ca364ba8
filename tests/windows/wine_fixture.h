#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "sim/sim_target.h"
#include "tests/windows/wine_session.h"

// What the Wine tests share: one prefix for the whole run (made by the
// environment that main() adds), and a fixture that finds tolvanis.exe and
// starts the simulated target on the prefix's COM1.
namespace winetest {

extern wine::Prefix* prefix;
extern bool prefixReady;

class PrefixEnvironment : public ::testing::Environment {
public:
    void SetUp() override;
    void TearDown() override;
};

std::string fromEnvironment(const char* name);
// Whether text holds part, white space normalised.
bool contains(const std::string& text, const std::string& part);

class Wine : public ::testing::Test {
protected:
    void SetUp() override;
    // The simulated target on the pseudo-terminal that the prefix's COM1 opens.
    std::unique_ptr<sim::SimTarget> startTarget();

    std::string console;
};

}  // namespace winetest
