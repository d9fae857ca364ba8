#pragma once

#include <string>

// Host file names come from three places, and on Windows each has its own
// encoding. These give the name that the host file functions here take:
// UTF-8 on Windows (opened through the wide functions), the bytes as they
// are elsewhere. Only the file's name changes; what the target is sent does
// not.
namespace platform {

// Typed at an argument prompt: the console's input code page.
std::string typedFileName(const std::string& typed);
// Written in a script: UTF-8 where it is valid UTF-8, the ANSI code page
// otherwise.
std::string scriptFileName(const std::string& written);
// Given on the command line: the ANSI code page.
std::string argumentFileName(const std::string& argument);

}  // namespace platform
