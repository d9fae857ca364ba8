#include "platform/wide_path_win32.h"

#include <windows.h>

#include <cwchar>

namespace platform {

namespace {

bool startsWith(const std::wstring& text, const wchar_t* prefix) {
    return text.compare(0, std::wcslen(prefix), prefix) == 0;
}

}  // namespace

bool toWide(unsigned codePage, bool strict, const std::string& text, std::wstring& wide) {
    wide.clear();
    if (text.empty()) return true;
    const DWORD flags = strict ? MB_ERR_INVALID_CHARS : 0;
    const int size = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(codePage, flags, text.data(), size, nullptr, 0);
    if (length <= 0) return false;
    wide.resize(static_cast<std::size_t>(length));
    return MultiByteToWideChar(codePage, flags, text.data(), size, wide.data(), length) == length;
}

std::wstring widePath(const char* name) {
    const std::string text = name;
    std::wstring wide;
    toWide(CP_UTF8, false, text, wide);
    if (startsWith(wide, L"\\\\?\\") || startsWith(wide, L"\\\\.\\")) return wide;
    const DWORD length = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (length == 0 || length <= MAX_PATH) return wide;  // the length counts the NUL
    std::wstring full(length, L'\0');
    const DWORD written = GetFullPathNameW(wide.c_str(), length, full.data(), nullptr);
    if (written == 0 || written >= length) return wide;
    full.resize(written);
    if (startsWith(full, L"\\\\.\\")) return wide;  // a device
    // A share's long form names it after UNC.
    if (startsWith(full, L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

}  // namespace platform
