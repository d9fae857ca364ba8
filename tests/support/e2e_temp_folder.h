#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace e2e {

// A fresh folder under the temporary folder, removed with all it holds when
// the object goes.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return path_; }
    std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }

private:
    std::string path_;
};

// Whole-file helpers for test data; empty text when the file cannot be read.
std::string readFile(const std::string& path);
bool writeFile(const std::string& path, std::string_view bytes);
// Bytes that look random but are the same for the same seed.
std::string patternBytes(std::size_t size, std::uint32_t seed);

}  // namespace e2e
