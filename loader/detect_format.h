#pragma once

// What the first bytes of a file say it is.
inline constexpr int UnknownFormat = 0;
inline constexpr int ExeFormat = 1;
inline constexpr int EcoffFormat = 2;
inline constexpr int MissingFile = 3;
inline constexpr int ElfFormat = 4;

// Opens, sniffs and closes the file; keeps nothing open.
int detectFormat(const char* path);
