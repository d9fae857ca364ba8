#include "platform/screen.h"

#include <windows.h>

#include <algorithm>
#include <limits>

void StdoutScreen::write(const char* bytes, std::size_t count) {
    // Straight to the handle: nothing waits in a buffer. A screen that has
    // gone (closed console, broken pipe) is ignored rather than retried.
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (output == nullptr || output == INVALID_HANDLE_VALUE) {
        return;
    }
    while (count > 0) {
        const DWORD chunk = static_cast<DWORD>(
            std::min<std::size_t>(count, std::numeric_limits<DWORD>::max()));
        DWORD written = 0;
        if (!WriteFile(output, bytes, chunk, &written, nullptr) || written == 0) {
            return;
        }
        bytes += written;
        count -= written;
    }
}
