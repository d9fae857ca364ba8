#pragma once

namespace fuzzing {

// From here on the process opens files only inside the scratch folder,
// which becomes the working folder. libFuzzer's own path arguments are made
// absolute first, so that its corpus and crash files stay where they were
// asked for.
void confineOpensToScratchFolder(int* argc, char*** argv);

}  // namespace fuzzing
