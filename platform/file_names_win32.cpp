#include <windows.h>

#include "platform/file_names.h"
#include "platform/wide_path_win32.h"

namespace platform {

namespace {

std::string toUtf8(const std::wstring& wide) {
    if (wide.empty()) return {};
    const int size = static_cast<int>(wide.size());
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return {};
    std::string text(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, text.data(), length, nullptr, nullptr);
    return text;
}

std::string utf8From(UINT codePage, const std::string& text) {
    std::wstring wide;
    return toWide(codePage, false, text, wide) ? toUtf8(wide) : text;
}

}  // namespace

std::string typedFileName(const std::string& typed) {
    // Without a console of its own the process has no input code page.
    const UINT codePage = GetConsoleCP();
    return utf8From(codePage != 0 ? codePage : CP_OEMCP, typed);
}

std::string scriptFileName(const std::string& written) {
    std::wstring wide;
    return toWide(CP_UTF8, true, written, wide) ? written : utf8From(CP_ACP, written);
}

std::string argumentFileName(const std::string& argument) { return utf8From(CP_ACP, argument); }

}  // namespace platform
