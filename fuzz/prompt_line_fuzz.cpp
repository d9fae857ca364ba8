// Any bytes as what a user types and passes: the argument lines of the four
// prompts, the command line, and the stored settings file (see
// user_input_checks.h for what each check holds the parser to).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/settings.h"
#include "fuzz/require.h"
#include "fuzz/scratch_folder.h"
#include "fuzz/user_input_checks.h"
#include "platform/settings_store.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The settings file lives in the scratch folder, never in $HOME.
    const std::string config = fuzzing::scratchFolder() + "/config";
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    auto store = makeSystemSettingsStore();
    fuzzing::require(store->open(), "the settings folder is made");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    fuzzing::checkPrompts(bytes);
    const StartupSettings settings = fuzzing::checkCommandLine(bytes);
    fuzzing::checkSettingsFile(bytes, settings.portName, settings.baudRate);
    return 0;
}
