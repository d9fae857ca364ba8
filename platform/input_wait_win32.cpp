#include "platform/input_wait.h"

#include <windows.h>

namespace platform {

void waitForInput(const std::intptr_t* handles, int count, const Deadline& deadline) {
    HANDLE waits[4];
    DWORD watched = 0;
    for (int i = 0; i < count && watched < 4; ++i) {
        if (handles[i] != -1 && handles[i] != 0) {
            waits[watched++] = reinterpret_cast<HANDLE>(handles[i]);
        }
    }
    const auto timeout = static_cast<DWORD>(deadline.leftMs());
    if (watched == 0) {
        Sleep(timeout);
        return;
    }
    WaitForMultipleObjects(watched, waits, FALSE, timeout);
}

}  // namespace platform
