#include "platform/file_names.h"

// A POSIX file name is bytes: it opens as it was typed or written.
namespace platform {

std::string typedFileName(const std::string& typed) { return typed; }

std::string scriptFileName(const std::string& written) { return written; }

std::string argumentFileName(const std::string& argument) { return argument; }

}  // namespace platform
