#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzzing {

// A folder of this run's own, made on first use and removed at exit; in
// /dev/shm when there is one, since the targets rewrite a file per input.
const std::string& scratchFolder();

// Makes the named file in the scratch folder hold exactly these bytes and
// returns its path.
std::string writeScratchFile(const std::string& name, const std::uint8_t* data, std::size_t size);

}  // namespace fuzzing
