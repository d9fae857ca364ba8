#include "fuzz/scratch_folder.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "fuzz/require.h"

namespace fuzzing {

namespace {

std::string makeFolder() {
    std::string base = "/tmp";
    struct stat status {};
    if (const char* tmp = std::getenv("TMPDIR"); tmp != nullptr && tmp[0] == '/') {
        base = tmp;
    } else if (stat("/dev/shm", &status) == 0 && S_ISDIR(status.st_mode)) {
        base = "/dev/shm";
    }
    std::string pattern = base + "/tolvanis-fuzz-XXXXXX";
    require(mkdtemp(pattern.data()) != nullptr, "a scratch folder can be made");
    return pattern;
}

void removeFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(scratchFolder(), ignored);
}

}  // namespace

const std::string& scratchFolder() {
    // Never destroyed: the removal at exit still needs the name.
    static const std::string* const folder = [] {
        auto* made = new std::string(makeFolder());
        std::atexit(removeFolder);
        return made;
    }();
    return *folder;
}

std::string writeScratchFile(const std::string& name, const std::uint8_t* data, std::size_t size) {
    const std::string path = scratchFolder() + "/" + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.close();
    require(out.good(), "the scratch file is written");
    return path;
}

}  // namespace fuzzing
