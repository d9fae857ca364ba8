#pragma once

#include <string>

namespace platform {

// text, in codePage, as UTF-16. Strict: false, and nothing, where text is
// not valid in that code page; otherwise what cannot be read is replaced.
bool toWide(unsigned codePage, bool strict, const std::string& text, std::wstring& wide);

// A host file name (UTF-8: file_names.h makes names so) as the wide file
// functions take it. A name whose full path is MAX_PATH or longer gets the
// long-path form, \\?\ and the absolute path, which has no such limit.
std::wstring widePath(const char* name);

}  // namespace platform
