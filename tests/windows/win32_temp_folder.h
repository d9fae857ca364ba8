#pragma once

#include <windows.h>

#include <string>

// A folder of its own under the user's temporary folder, removed with what it
// holds (files only) when the test ends.
class TempFolder {
public:
    TempFolder() {
        char base[MAX_PATH];
        const DWORD length = GetTempPathA(MAX_PATH, base);
        for (unsigned attempt = 0; length > 0 && length < MAX_PATH && attempt < 100; ++attempt) {
            const std::string candidate = std::string(base) + "tolvanis-" +
                                          std::to_string(GetCurrentProcessId()) + "-" +
                                          std::to_string(GetTickCount() + attempt);
            if (CreateDirectoryA(candidate.c_str(), nullptr)) {
                path_ = candidate;
                break;
            }
        }
    }
    ~TempFolder() {
        if (path_.empty()) {
            return;
        }
        WIN32_FIND_DATAA found;
        const HANDLE search = FindFirstFileA((path_ + "\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                    DeleteFileA(file(found.cFileName).c_str());
                }
            } while (FindNextFileA(search, &found));
            FindClose(search);
        }
        RemoveDirectoryA(path_.c_str());
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    bool ready() const { return !path_.empty(); }
    std::string file(const std::string& name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};
