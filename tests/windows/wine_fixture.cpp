#include "tests/windows/wine_fixture.h"

#include <cstdlib>

namespace winetest {

wine::Prefix* prefix = nullptr;
bool prefixReady = false;

void PrefixEnvironment::SetUp() {
    prefix = new wine::Prefix;
    prefixReady = prefix->setUp();
}

void PrefixEnvironment::TearDown() {
    delete prefix;
    prefix = nullptr;
}

std::string fromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(wine::normalised(part)) != std::string::npos;
}

void Wine::SetUp() {
    ASSERT_NE(nullptr, prefix);
    ASSERT_TRUE(prefixReady) << prefix->error();
    console = fromEnvironment("TOLVANIS_EXE");
    ASSERT_FALSE(console.empty()) << "TOLVANIS_EXE names no tolvanis.exe";
}

std::unique_ptr<sim::SimTarget> Wine::startTarget() {
    sim::Options options;
    options.linkPath = prefix->comLink();
    auto target = std::make_unique<sim::SimTarget>(options);
    if (!target->start()) return nullptr;
    return target;
}

}  // namespace winetest
