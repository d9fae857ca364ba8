#pragma once

#include <string>

#include "app/settings.h"

// The first line the console prints, with the program's build date.
std::string bannerText(const StartupSettings& settings);
std::string usageText();
std::string versionText();
